#include "key_crypto.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <array>
#include <climits>
#include <memory>
#include <string_view>

#include "key_internal.h"
#include "orva/openssl_ptr.h"
#include "recent_cache.h"

namespace orva::softkey {

namespace detail {

void fail(const char* reason) {
    ERR_clear_error();
    throw CryptoError(reason);
}

}  // namespace detail

namespace {

using detail::check;
using detail::fail;

// Stored keys carry no pass phrase; OpenSSL's default would prompt on the terminal.
int noPassPhrase(char*, int, int, void*) {
    return -1;
}

// A BIO reading the text in place, without a copy of it.
BioPtr readOnlyBio(std::string_view text) {
    check(!text.empty() && text.size() <= INT_MAX, "empty or oversized PEM");
    BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    check(bio != nullptr, "out of memory");
    return bio;
}

constexpr int kFieldSize = static_cast<int>(detail::kSm2FieldSize);

// Reading PEM through OpenSSL's decoders costs several times a signature, and
// the calls of one signature read the same key again and again: the keys read
// lately are shared (nothing changes a key once it is read).
constexpr std::size_t kMaxRecentKeys = 8;
constinit RecentCache<SecureString, std::shared_ptr<EVP_PKEY>> gRecentKeys(kMaxRecentKeys);

EvpPkeyPtr sharedKey(EVP_PKEY* key) {
    check(EVP_PKEY_up_ref(key) == 1, "out of memory");
    return EvpPkeyPtr(key);
}

}  // namespace

namespace detail {

EvpPkeyPtr loadPrivateKey(const SecureString& pem) {
    if (const auto recent = gRecentKeys.find(pem)) {
        return sharedKey(recent->get());
    }
    const BioPtr bio = readOnlyBio(std::string_view(pem.data(), pem.size()));
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassPhrase, nullptr));
    check(key != nullptr, "not a private key");
    EvpPkeyPtr kept = sharedKey(key.get());
    gRecentKeys.remember(pem, std::shared_ptr<EVP_PKEY>(std::move(kept)));
    return key;
}

SecureString privateKeyPem(EVP_PKEY* key) {
    // A secure-memory BIO wipes its buffer whenever it grows or is freed.
    const BioPtr bio(BIO_new(BIO_s_secmem()));
    check(bio != nullptr, "out of memory");
    check(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "cannot encode the private key");
    BUF_MEM* mem = nullptr;
    check(BIO_get_mem_ptr(bio.get(), &mem) == 1 && mem != nullptr, "cannot encode the private key");
    return SecureString(mem->data, mem->length);
}

void requireSm2(EVP_PKEY* key) {
    check(EVP_PKEY_is_a(key, "SM2") == 1, "not an SM2 key");
    char group[16] = {};
    std::size_t length = 0;
    check(EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                         &length) == 1 &&
              std::string_view(group, length) == "SM2",
          "not on the SM2 curve");
}

Bytes sm2PublicXY(EVP_PKEY* key) {
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                     EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1;
    const BignumPtr xOwner(x);
    const BignumPtr yOwner(y);
    check(got, "SM2 key without a public point");
    Bytes xy(2 * kSm2FieldSize);
    check(BN_bn2binpad(x, xy.data(), kFieldSize) == kFieldSize &&
              BN_bn2binpad(y, xy.data() + kFieldSize, kFieldSize) == kFieldSize,
          "SM2 coordinate out of range");
    return xy;
}

SecureBytes sm2PrivateScalar(EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1;
    const SecretBignumPtr owner(d);
    check(got, "SM2 key without a private scalar");
    SecureBytes scalar(kSm2FieldSize);
    check(BN_bn2binpad(d, scalar.data(), kFieldSize) == kFieldSize, "SM2 scalar out of range");
    return scalar;
}

}  // namespace detail

namespace {

constexpr std::uint16_t kSm2Bits = 256;
constexpr unsigned long kRsaExponent = 65537;
constexpr std::string_view kSm2DefaultId = "1234567812345678";

enum class KeyKind { Sm2, Rsa };

KeyKind kindOf(EVP_PKEY* key) {
    if (EVP_PKEY_is_a(key, "SM2") == 1) {
        detail::requireSm2(key);
        return KeyKind::Sm2;
    }
    check(EVP_PKEY_is_a(key, "RSA") == 1, "neither an SM2 nor an RSA key");
    return KeyKind::Rsa;
}

// Only the sizes the key supports have a layout and an algorithm id.
std::uint32_t rsaAlgorithm(EVP_PKEY* key) {
    switch (EVP_PKEY_get_bits(key)) {
        case 1024:
            return kAlgRsa1024;
        case 2048:
            return kAlgRsa2048;
        default:
            fail("unsupported RSA key size");
    }
}

void appendBits(Bytes& out, int bits) {
    out.push_back(static_cast<std::uint8_t>((bits >> 8) & 0xff));
    out.push_back(static_cast<std::uint8_t>(bits & 0xff));
}

Bytes rsaPublicLayout(EVP_PKEY* key) {
    rsaAlgorithm(key);  // refuses sizes the key has no id for
    const int bits = EVP_PKEY_get_bits(key);
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
                     EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) == 1;
    const BignumPtr nOwner(n);
    const BignumPtr eOwner(e);
    check(got, "RSA key without a modulus");
    // The layout has room for one exponent only.
    check(BN_is_word(e, kRsaExponent) == 1, "RSA exponent is not 65537");

    const int modulusSize = bits / 8;
    Bytes out;
    out.reserve(static_cast<std::size_t>(modulusSize) + 7);
    appendBits(out, bits);
    out.resize(2 + static_cast<std::size_t>(modulusSize));
    check(BN_bn2binpad(n, out.data() + 2, modulusSize) == modulusSize, "RSA modulus out of range");
    // Exponent length (2 bytes) and the exponent.
    static constexpr std::array<std::uint8_t, 5> kExponentField = {0x00, 0x03, 0x01, 0x00, 0x01};
    out.insert(out.end(), kExponentField.begin(), kExponentField.end());
    return out;
}

Bytes publicLayout(EVP_PKEY* key) {
    if (kindOf(key) == KeyKind::Rsa) {
        return rsaPublicLayout(key);
    }
    const Bytes xy = detail::sm2PublicXY(key);
    const auto half = static_cast<std::ptrdiff_t>(detail::kSm2FieldSize);
    Bytes out;
    out.reserve(xy.size() + 4);
    appendBits(out, kSm2Bits);
    out.insert(out.end(), xy.begin(), xy.begin() + half);
    appendBits(out, kSm2Bits);
    out.insert(out.end(), xy.begin() + half, xy.end());
    return out;
}

Bytes generationLayout(EVP_PKEY* key) {
    if (kindOf(key) == KeyKind::Rsa) {
        return rsaPublicLayout(key);
    }
    const Bytes xy = detail::sm2PublicXY(key);
    Bytes out;
    out.reserve(xy.size() + 4);
    appendBits(out, kSm2Bits);
    out.insert(out.end(), xy.begin(), xy.end());
    out.push_back(0x00);
    out.push_back(0x00);
    return out;
}

// OpenSSL gives SM2 signatures as DER; the key hands out r || s.
Bytes sm2RawSignature(const Bytes& der) {
    check(der.size() <= LONG_MAX, "bad SM2 signature");
    const unsigned char* next = der.data();
    const EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &next, static_cast<long>(der.size())));
    check(sig != nullptr && next == der.data() + der.size(), "bad SM2 signature");
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(sig.get(), &r, &s);
    Bytes raw(2 * detail::kSm2FieldSize);
    check(BN_bn2binpad(r, raw.data(), kFieldSize) == kFieldSize &&
              BN_bn2binpad(s, raw.data() + kFieldSize, kFieldSize) == kFieldSize,
          "bad SM2 signature");
    return raw;
}

constexpr std::uint32_t kHashSm3 = 8;

// DigestInfo up to the digest: SEQUENCE { SEQUENCE { OID 1.2.156.10197.1.401, NULL },
// OCTET STRING (32) }.
constexpr std::array<std::uint8_t, 18> kSm3DigestInfoPrefix = {0x30, 0x30, 0x30, 0x0c, 0x06, 0x08,
                                                               0x2a, 0x81, 0x1c, 0xcf, 0x55, 0x01,
                                                               0x83, 0x11, 0x05, 0x00, 0x04, 0x20};

const char* digestName(std::uint32_t hashId) {
    switch (hashId) {
        case 4:
            return "SHA1";
        case 5:
            return "SHA256";
        case 6:
            return "SHA384";
        case 7:
            return "SHA512";
        case kHashSm3:
            return "SM3";
        default:
            fail("unsupported hash id");
    }
}

EvpPkeyCtxPtr contextFor(EVP_PKEY* key) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    check(ctx != nullptr, "out of memory");
    return ctx;
}

EvpPkeyPtr loadAnyKey(const SecureString& pem) {
    constexpr std::string_view kPublicHeader = "-----BEGIN PUBLIC KEY-----";
    if (std::string_view(pem.data(), pem.size()).find(kPublicHeader) == std::string_view::npos) {
        return detail::loadPrivateKey(pem);
    }
    const BioPtr bio = readOnlyBio(std::string_view(pem.data(), pem.size()));
    EvpPkeyPtr key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    check(key != nullptr, "not a public key");
    return key;
}

}  // namespace

KeyPair generateKeyPair(std::uint32_t algId) {
    EvpPkeyPtr key;
    switch (algId) {
        case kAlgRsa:
        case kAlgRsa1024:
            key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<std::size_t>(1024)));
            break;
        case kAlgRsa2048:
            key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<std::size_t>(2048)));
            break;
        case kAlgSm2:
            key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
            break;
        default:
            fail("unsupported key algorithm");
    }
    check(key != nullptr, "key generation failed");
    KeyPair pair;
    pair.privatePem = detail::privateKeyPem(key.get());
    pair.publicFile = publicLayout(key.get());
    pair.generationBlock = generationLayout(key.get());
    return pair;
}

Bytes publicKeyFile(const SecureString& privatePem) {
    const EvpPkeyPtr key = detail::loadPrivateKey(privatePem);
    return publicLayout(key.get());
}

Bytes generationBlock(const SecureString& privatePem) {
    const EvpPkeyPtr key = detail::loadPrivateKey(privatePem);
    return generationLayout(key.get());
}

Bytes sm2SignDigest(const SecureString& privatePem, std::span<const std::uint8_t> digest) {
    check(digest.size() == detail::kSm2FieldSize, "an SM2 digest is 32 bytes");
    const EvpPkeyPtr key = detail::loadPrivateKey(privatePem);
    check(kindOf(key.get()) == KeyKind::Sm2, "not an SM2 key");
    // EVP_PKEY_sign on an SM2 key takes its input as e itself.
    const EvpPkeyCtxPtr ctx = contextFor(key.get());
    std::size_t size = 0;
    check(EVP_PKEY_sign_init(ctx.get()) == 1 &&
              EVP_PKEY_sign(ctx.get(), nullptr, &size, digest.data(), digest.size()) == 1,
          "SM2 signing failed");
    Bytes der(size);
    check(EVP_PKEY_sign(ctx.get(), der.data(), &size, digest.data(), digest.size()) == 1,
          "SM2 signing failed");
    der.resize(size);
    return sm2RawSignature(der);
}

Bytes sm2SignData(const SecureString& privatePem, std::span<const std::uint8_t> data) {
    const EvpPkeyPtr key = detail::loadPrivateKey(privatePem);
    check(kindOf(key.get()) == KeyKind::Sm2, "not an SM2 key");
    // The id must be on the key context before the digest context starts, so Z
    // is computed with it; the digest context borrows the key context, which
    // therefore outlives it.
    const EvpPkeyCtxPtr pctx = contextFor(key.get());
    check(EVP_PKEY_CTX_set1_id(pctx.get(), kSm2DefaultId.data(),
                               static_cast<int>(kSm2DefaultId.size())) == 1,
          "cannot set the SM2 id");
    const EvpMdCtxPtr mctx(EVP_MD_CTX_new());
    check(mctx != nullptr, "out of memory");
    EVP_MD_CTX_set_pkey_ctx(mctx.get(), pctx.get());
    std::size_t size = 0;
    check(EVP_DigestSignInit(mctx.get(), nullptr, EVP_sm3(), nullptr, key.get()) == 1 &&
              EVP_DigestSignUpdate(mctx.get(), detail::bytesOf(data), data.size()) == 1 &&
              EVP_DigestSignFinal(mctx.get(), nullptr, &size) == 1,
          "SM2 signing failed");
    Bytes der(size);
    check(EVP_DigestSignFinal(mctx.get(), der.data(), &size) == 1, "SM2 signing failed");
    der.resize(size);
    return sm2RawSignature(der);
}

Bytes rsaSignData(const SecureString& privatePem, std::uint32_t hashId,
                  std::span<const std::uint8_t> data) {
    const char* name = digestName(hashId);
    const EvpPkeyPtr key = detail::loadPrivateKey(privatePem);
    check(kindOf(key.get()) == KeyKind::Rsa, "not an RSA key");
    const EvpMdPtr md(EVP_MD_fetch(nullptr, name, nullptr));
    check(md != nullptr, "digest unavailable");
    Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int digestSize = 0;
    check(EVP_Digest(detail::bytesOf(data), data.size(), digest.data(), &digestSize, md.get(),
                     nullptr) == 1,
          "digest failed");
    digest.resize(digestSize);

    const EvpPkeyCtxPtr ctx = contextFor(key.get());
    check(EVP_PKEY_sign_init(ctx.get()) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1,
          "RSA signing failed");
    Bytes input;
    if (hashId == kHashSm3) {
        // OpenSSL 3.0's RSA signature refuses SM3 as its digest, so the DigestInfo
        // is built here and padded and signed as it is.
        input.assign(kSm3DigestInfoPrefix.begin(), kSm3DigestInfoPrefix.end());
        input.insert(input.end(), digest.begin(), digest.end());
    } else {
        check(EVP_PKEY_CTX_set_signature_md(ctx.get(), md.get()) == 1, "RSA signing failed");
        input = std::move(digest);
    }
    std::size_t size = 0;
    check(EVP_PKEY_sign(ctx.get(), nullptr, &size, input.data(), input.size()) == 1,
          "RSA signing failed");
    Bytes sig(size);
    check(EVP_PKEY_sign(ctx.get(), sig.data(), &size, input.data(), input.size()) == 1,
          "RSA signing failed");
    sig.resize(size);
    return sig;
}

Bytes encryptToPublicKey(const SecureString& privatePemOrPublicPem,
                         std::span<const std::uint8_t> plain) {
    check(!plain.empty(), "nothing to encrypt");
    const EvpPkeyPtr key = loadAnyKey(privatePemOrPublicPem);
    const KeyKind kind = kindOf(key.get());
    const EvpPkeyCtxPtr ctx = contextFor(key.get());
    check(EVP_PKEY_encrypt_init(ctx.get()) == 1, "encryption failed");
    if (kind == KeyKind::Rsa) {
        check(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1, "encryption failed");
    }
    std::size_t size = 0;
    check(EVP_PKEY_encrypt(ctx.get(), nullptr, &size, plain.data(), plain.size()) == 1,
          "encryption failed");
    Bytes cipher(size);
    check(EVP_PKEY_encrypt(ctx.get(), cipher.data(), &size, plain.data(), plain.size()) == 1,
          "encryption failed");
    cipher.resize(size);
    return cipher;
}

SecureBytes decryptWithPrivateKey(const SecureString& privatePem,
                                  std::span<const std::uint8_t> cipher) {
    check(!cipher.empty(), "nothing to decrypt");
    const EvpPkeyPtr key = detail::loadPrivateKey(privatePem);
    const KeyKind kind = kindOf(key.get());
    const EvpPkeyCtxPtr ctx = contextFor(key.get());
    check(EVP_PKEY_decrypt_init(ctx.get()) == 1, "decryption failed");
    if (kind == KeyKind::Rsa) {
        check(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1, "decryption failed");
    }
    std::size_t size = 0;
    check(EVP_PKEY_decrypt(ctx.get(), nullptr, &size, cipher.data(), cipher.size()) == 1,
          "decryption failed");
    SecureBytes plain(size);
    check(EVP_PKEY_decrypt(ctx.get(), plain.data(), &size, cipher.data(), cipher.size()) == 1,
          "decryption failed");
    plain.resize(size);
    return plain;
}

std::string publicKeyPem(const SecureString& privatePem) {
    const EvpPkeyPtr key = detail::loadPrivateKey(privatePem);
    kindOf(key.get());
    const BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio != nullptr, "out of memory");
    check(PEM_write_bio_PUBKEY(bio.get(), key.get()) == 1, "cannot encode the public key");
    BUF_MEM* mem = nullptr;
    check(BIO_get_mem_ptr(bio.get(), &mem) == 1 && mem != nullptr, "cannot encode the public key");
    return std::string(mem->data, mem->length);
}

std::uint32_t algorithmOf(const SecureString& privatePem) {
    const EvpPkeyPtr key = detail::loadPrivateKey(privatePem);
    return kindOf(key.get()) == KeyKind::Sm2 ? kAlgSm2 : rsaAlgorithm(key.get());
}

}  // namespace orva::softkey
