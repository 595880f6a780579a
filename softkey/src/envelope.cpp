#include "envelope.h"

#include <openssl/core_names.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>

#include "key_internal.h"
#include "orva/openssl_ptr.h"

namespace orva::softkey {

namespace {

using detail::check;
using detail::fail;
using detail::kSm2FieldSize;

constexpr std::size_t kSessionKeySize = 16;
constexpr std::size_t kKeyPairSize = 3 * kSm2FieldSize;  // d || X || Y
constexpr std::array<std::uint8_t, 4> kKeyBits = {0x00, 0x00, 0x01, 0x00};

const char* cipherName(std::uint32_t algorithmWord) {
    switch (algorithmWord) {
        case kEnvelopeSm4Ecb:
            return "SM4-ECB";
        case kEnvelopeSm4Cbc:
            return "SM4-CBC";
        default:
            fail("unsupported envelope algorithm");
    }
}

// SM4 without padding: B is a whole number of blocks. CBC runs with a zero IV.
SecureBytes sm4(std::uint32_t algorithmWord, bool encrypt, std::span<const std::uint8_t> key,
                std::span<const std::uint8_t> in) {
    static constexpr std::array<unsigned char, 16> kZeroIv = {};
    check(key.size() == kSessionKeySize && in.size() == kKeyPairSize, "bad SM4 input");
    const EvpCipherPtr cipher(EVP_CIPHER_fetch(nullptr, cipherName(algorithmWord), nullptr));
    const EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    check(cipher != nullptr && ctx != nullptr, "SM4 unavailable");
    SecureBytes out(in.size() + 16);
    int written = 0;
    int last = 0;
    check(EVP_CipherInit_ex2(ctx.get(), cipher.get(), key.data(), kZeroIv.data(), encrypt ? 1 : 0,
                             nullptr) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
              EVP_CipherUpdate(ctx.get(), out.data(), &written, in.data(),
                               static_cast<int>(in.size())) == 1 &&
              EVP_CipherFinal_ex(ctx.get(), out.data() + written, &last) == 1,
          "SM4 failed");
    out.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
    check(out.size() == in.size(), "SM4 failed");
    return out;
}

// The key pair B carries, after checking that the point is d times the generator:
// a scalar and a point that do not belong together are refused, not imported.
EvpPkeyPtr sm2KeyFromParts(std::span<const std::uint8_t> scalar, std::span<const std::uint8_t> xy) {
    const EcGroupPtr group(EC_GROUP_new_by_curve_name(NID_sm2));
    const BnCtxPtr bnCtx(BN_CTX_new());
    const SecretBignumPtr d(BN_secure_new());
    const EcPointPtr derived(group ? EC_POINT_new(group.get()) : nullptr);
    check(group != nullptr && bnCtx != nullptr && d != nullptr && derived != nullptr,
          "out of memory");
    check(BN_bin2bn(scalar.data(), static_cast<int>(scalar.size()), d.get()) != nullptr,
          "out of memory");

    // SM2 needs 1 <= d <= n - 2 (signing inverts 1 + d).
    const BignumPtr limit(BN_dup(EC_GROUP_get0_order(group.get())));
    check(limit != nullptr && BN_sub_word(limit.get(), 1) == 1, "out of memory");
    check(!BN_is_zero(d.get()) && BN_cmp(d.get(), limit.get()) < 0, "envelope scalar out of range");

    check(EC_POINT_mul(group.get(), derived.get(), d.get(), nullptr, nullptr, bnCtx.get()) == 1,
          "cannot derive the public point");
    std::array<unsigned char, 1 + 2 * kSm2FieldSize> point = {};
    check(EC_POINT_point2oct(group.get(), derived.get(), POINT_CONVERSION_UNCOMPRESSED,
                             point.data(), point.size(), bnCtx.get()) == point.size(),
          "cannot derive the public point");
    check(std::equal(xy.begin(), xy.end(), point.begin() + 1, point.end()),
          "envelope point does not match its scalar");

    const OsslParamBldPtr build(OSSL_PARAM_BLD_new());
    check(build != nullptr, "out of memory");
    check(OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) == 1 &&
              OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get()) == 1 &&
              OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                               point.size()) == 1,
          "out of memory");
    // d is a secure BIGNUM, so the builder puts it in wiped memory.
    const OsslParamPtr params(OSSL_PARAM_BLD_to_param(build.get()));
    const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    check(params != nullptr && ctx != nullptr, "out of memory");
    EVP_PKEY* made = nullptr;
    check(EVP_PKEY_fromdata_init(ctx.get()) == 1 &&
              EVP_PKEY_fromdata(ctx.get(), &made, EVP_PKEY_KEYPAIR, params.get()) == 1,
          "cannot build the envelope key");
    return EvpPkeyPtr(made);
}

}  // namespace

Envelope sealEnvelope(const std::string& signaturePublicPem, std::uint32_t algorithmWord,
                      const SecureString& newKeyPem) {
    cipherName(algorithmWord);  // refuses an unknown word before any work
    const EvpPkeyPtr newKey = detail::loadPrivateKey(newKeyPem);
    detail::requireSm2(newKey.get());

    SecureBytes plain = detail::sm2PrivateScalar(newKey.get());
    const Bytes xy = detail::sm2PublicXY(newKey.get());
    plain.insert(plain.end(), xy.begin(), xy.end());

    SecureBytes sessionKey(kSessionKeySize);
    check(RAND_bytes(sessionKey.data(), static_cast<int>(sessionKey.size())) == 1,
          "no random bytes");

    Envelope envelope;
    envelope.sessionKey = encryptToPublicKey(
        SecureString(signaturePublicPem.begin(), signaturePublicPem.end()), sessionKey);
    const SecureBytes sealed = sm4(algorithmWord, true, sessionKey, plain);
    envelope.keyPair.assign(sealed.begin(), sealed.end());
    envelope.keyBits.assign(kKeyBits.begin(), kKeyBits.end());
    return envelope;
}

SecureString openEnvelope(const SecureString& signaturePrivatePem, std::uint32_t algorithmWord,
                          std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                          std::span<const std::uint8_t> c) {
    cipherName(algorithmWord);  // refuses an unknown word before any work
    check(std::equal(c.begin(), c.end(), kKeyBits.begin(), kKeyBits.end()),
          "envelope key size is not 256 bits");
    check(!a.empty(), "envelope without a session key");
    check(b.size() == kKeyPairSize, "envelope key pair has the wrong size");

    const SecureBytes sessionKey = decryptWithPrivateKey(signaturePrivatePem, a);
    check(sessionKey.size() == kSessionKeySize, "envelope session key has the wrong size");
    const SecureBytes plain = sm4(algorithmWord, false, sessionKey, b);

    const std::span<const std::uint8_t> parts(plain);
    const EvpPkeyPtr key =
        sm2KeyFromParts(parts.first(kSm2FieldSize), parts.subspan(kSm2FieldSize));
    return detail::privateKeyPem(key.get());
}

}  // namespace orva::softkey
