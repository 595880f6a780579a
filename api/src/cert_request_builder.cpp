#include "cert_request_builder.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <climits>
#include <string_view>

#include "bound_function_table.h"
#include "der_writer.h"
#include "hash_ids.h"

namespace orva::api {

namespace {

constexpr long kRequestVersion = 1;  // kept at 1 on purpose, for SM2 and RSA alike
constexpr std::size_t kSm2CoordinateSize = 32;
constexpr std::size_t kSm2SignatureSize = 64;
constexpr std::size_t kSm3DigestSize = 32;
constexpr std::size_t kRsaBlockHeader = 2;
constexpr std::size_t kRsaBlockTrailer = 5;  // 00, exponent length, exponent
constexpr std::size_t kRsaExponentLengthFromEnd = 4;
constexpr std::size_t kRsaMaxExponentLength = 4;
constexpr long kUnusedBitsMask = 0x07;
// The user id the key's Z value is made with.
constexpr std::string_view kSm2UserId = "1234567812345678";

// The request is SM2 exactly when its hash is SM3.
bool isSm2(const CertRequestItem& item) noexcept {
    return item.hashId == kHashIdSm3;
}

std::span<const std::uint8_t> withoutLeadingZeros(std::span<const std::uint8_t> value) {
    while (value.size() > 1 && value.front() == 0) {
        value = value.subspan(1);
    }
    return value;
}

EvpPkeyPtr sm2KeyFromPoint(const std::array<std::uint8_t, 65>& point) {
    const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
    char group[] = "SM2";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY,
                                          const_cast<std::uint8_t*>(point.data()), point.size()),
        OSSL_PARAM_construct_end()};
    EVP_PKEY* key = nullptr;
    // A point that is not on the curve is refused here.
    if (ctx == nullptr || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
        return nullptr;
    }
    return EvpPkeyPtr(key);
}

EvpPkeyPtr rsaKeyFromDer(const Bytes& der) {
    const unsigned char* p = der.data();
    EvpPkeyPtr key(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size())));
    return p == der.data() + der.size() ? std::move(key) : nullptr;
}

// Each part is added at the front, so the DER lists O, OU, CN; empty OU and O
// are left out.
[[nodiscard]] bool setSubject(X509_REQ& request, const CertRequestItem& item) {
    const X509NamePtr name(X509_NAME_new());
    if (name == nullptr) {
        return false;
    }
    const std::pair<const char*, const std::string*> parts[] = {
        {"CN", &item.cn}, {"OU", &item.ou}, {"O", &item.o}};
    for (const auto& [field, value] : parts) {
        if (value->empty()) {
            continue;
        }
        if (X509_NAME_add_entry_by_txt(name.get(), field, V_ASN1_UTF8STRING,
                                       reinterpret_cast<const unsigned char*>(value->data()),
                                       static_cast<int>(value->size()), 0, -1) != 1) {
            return false;
        }
    }
    return X509_REQ_set_subject_name(&request, name.get()) == 1;
}

// SM2 with SM3, or the digest's sha*WithRSAEncryption; NULL parameters both.
[[nodiscard]] bool setSignatureAlgorithm(X509_REQ& request, const CertRequestItem& item,
                                         int digestNid) {
    int signatureNid = NID_SM2_with_SM3;
    if (!isSm2(item) && OBJ_find_sigid_by_algs(&signatureNid, digestNid, NID_rsaEncryption) != 1) {
        return false;
    }
    const X509AlgorPtr algorithm(X509_ALGOR_new());
    return algorithm != nullptr &&
           X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(signatureNid), V_ASN1_NULL, nullptr) == 1 &&
           X509_REQ_set1_signature_algo(&request, algorithm.get()) == 1;
}

// The key's signature, as the request's BIT STRING carries it: 0 unused bits.
[[nodiscard]] bool setSignature(X509_REQ& request, const Bytes& signature) {
    Asn1BitStringPtr bits(ASN1_BIT_STRING_new());
    if (bits == nullptr || signature.size() > INT_MAX ||
        ASN1_BIT_STRING_set(bits.get(), const_cast<std::uint8_t*>(signature.data()),
                            static_cast<int>(signature.size())) != 1) {
        return false;
    }
    // Without the flag OpenSSL would count the last byte's trailing zero bits
    // as unused; with it, the low bits (0 here) are the count.
    bits->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | kUnusedBitsMask);
    bits->flags |= ASN1_STRING_FLAG_BITS_LEFT;
    X509_REQ_set0_signature(&request, bits.release());
    return true;
}

// The key's signature of data, which must be exactly size bytes; none when the
// key refuses or answers another length.
[[nodiscard]] std::optional<Bytes> keySign(const DeviceSession& session,
                                           const CertRequestItem& item, std::uint32_t privateKeyFid,
                                           std::uint32_t op, std::span<const std::uint8_t> data,
                                           std::size_t size) {
    Bytes signature(size);
    auto length = static_cast<std::uint32_t>(signature.size());
    if (!session
             .call(&DravikApi::QZAsymSign, static_cast<std::uint32_t>(item.hashId),
                   static_cast<std::uint32_t>(item.keyAlgId),
                   static_cast<std::uint32_t>(item.signForm), privateKeyFid, 0, 0, nullptr, 0,
                   nullptr, 0, op, data.data(), static_cast<std::uint32_t>(data.size()),
                   signature.data(), &length)
             .ok() ||
        length != signature.size()) {
        return std::nullopt;
    }
    return signature;
}

// e = SM3(Z || tbs) with Z of the key's public key; the key signs e and
// answers r || s, which goes into the request as DER SEQUENCE { r, s }.
[[nodiscard]] std::optional<Bytes> signSm2(const DeviceSession& session,
                                           std::uint32_t privateKeyFid, const CertRequestItem& item,
                                           std::span<const std::uint8_t> xy,
                                           std::span<const std::uint8_t> tbs) {
    const QZAlgLibApi& alg = boundFunctions().qzAlgLib;
    if (xy.size() != 2 * kSm2CoordinateSize ||
        alg.QZA_GetHashValueSize(QZA_HASH_SM3) != static_cast<std::int32_t>(kSm3DigestSize)) {
        return std::nullopt;
    }
    Bytes message(kSm3DigestSize);
    std::uint32_t zLength = kSm3DigestSize;
    if (alg.QZA_SM3ZA(xy.data(), kSm2CoordinateSize, xy.data() + kSm2CoordinateSize,
                      kSm2CoordinateSize, message.data(), &zLength) != QZA_OK ||
        zLength != kSm3DigestSize) {
        return std::nullopt;
    }
    message.insert(message.end(), tbs.begin(), tbs.end());
    Bytes digest(kSm3DigestSize);
    if (message.size() > UINT32_MAX ||
        alg.QZA_Hash(QZA_HASH_SM3, message.data(), static_cast<std::uint32_t>(message.size()),
                     digest.data()) != QZA_OK) {
        return std::nullopt;
    }
    const std::optional<Bytes> rs =
        keySign(session, item, privateKeyFid, DRV_SIGN_DIGEST, digest, kSm2SignatureSize);
    if (!rs) {
        return std::nullopt;
    }
    BignumPtr r(BN_bin2bn(rs->data(), kSm2CoordinateSize, nullptr));
    BignumPtr s(BN_bin2bn(rs->data() + kSm2CoordinateSize, kSm2CoordinateSize, nullptr));
    const EcdsaSigPtr sig(ECDSA_SIG_new());
    if (r == nullptr || s == nullptr || sig == nullptr ||
        ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) {
        return std::nullopt;
    }
    r.release();
    s.release();
    const int size = i2d_ECDSA_SIG(sig.get(), nullptr);
    if (size <= 0) {
        return std::nullopt;
    }
    Bytes signature(static_cast<std::size_t>(size));
    unsigned char* out = signature.data();
    if (i2d_ECDSA_SIG(sig.get(), &out) != size) {
        return std::nullopt;
    }
    return signature;
}

// The key's signature checked as a CA will check it: SM2 with the user id of
// its Z value.
[[nodiscard]] bool verifyRequest(X509_REQ& request, bool sm2) {
    if (sm2) {
        Asn1OctetStringPtr id(ASN1_OCTET_STRING_new());
        if (id == nullptr ||
            ASN1_OCTET_STRING_set(id.get(),
                                  reinterpret_cast<const unsigned char*>(kSm2UserId.data()),
                                  static_cast<int>(kSm2UserId.size())) != 1) {
            return false;
        }
        X509_REQ_set0_distinguishing_id(&request, id.release());
    }
    EVP_PKEY* key = X509_REQ_get0_pubkey(&request);
    return key != nullptr && X509_REQ_verify(&request, key) == 1;
}

}  // namespace

int hashIdToNid(int hashId) noexcept {
    switch (hashId) {
        case kHashIdSha1:
            return NID_sha1;
        case kHashIdSha256:
            return NID_sha256;
        case kHashIdSha384:
            return NID_sha384;
        case kHashIdSha512:
            return NID_sha512;
        case kHashIdSm3:
            return NID_sm3;
        default:
            return NID_undef;
    }
}

std::optional<std::array<std::uint8_t, 65>> makeUncompressedPoint(
    std::span<const std::uint8_t> xy) {
    if (xy.size() != 2 * kSm2CoordinateSize) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 65> point{0x04};
    std::copy(xy.begin(), xy.end(), point.begin() + 1);
    return point;
}

std::optional<Bytes> convertTokenRsaPublicKey(std::span<const std::uint8_t> block) {
    if (block.size() <= kRsaBlockHeader + kRsaBlockTrailer) {
        return std::nullopt;
    }
    const std::size_t exponentLength = block[block.size() - kRsaExponentLengthFromEnd];
    if (exponentLength < 1 || exponentLength > kRsaMaxExponentLength) {
        return std::nullopt;
    }
    const auto modulus =
        block.subspan(kRsaBlockHeader, block.size() - kRsaBlockHeader - kRsaBlockTrailer);
    const auto exponent = block.last(exponentLength);
    return encodeRsaPublicKey(withoutLeadingZeros(modulus), withoutLeadingZeros(exponent));
}

Result<X509ReqPtr> buildCertRequest(const CertRequestItem& item,
                                    std::span<const std::uint8_t> publicKey) {
    ERR_clear_error();
    const int digestNid = hashIdToNid(item.hashId);
    if (digestNid == NID_undef) {
        return kInvalidParameter;
    }

    // The key's public key, which OpenSSL checks as it takes it.
    EvpPkeyPtr key;
    if (isSm2(item)) {
        if (const auto point = makeUncompressedPoint(publicKey)) {
            key = sm2KeyFromPoint(*point);
        }
    } else if (const auto der = convertTokenRsaPublicKey(publicKey)) {
        key = rsaKeyFromDer(*der);
    }
    if (key == nullptr) {
        return kConvertPublicKeyError;
    }

    X509ReqPtr made(X509_REQ_new());
    if (made == nullptr || X509_REQ_set_version(made.get(), kRequestVersion) != 1 ||
        !setSubject(*made, item) || X509_REQ_set_pubkey(made.get(), key.get()) != 1 ||
        !setSignatureAlgorithm(*made, item, digestNid)) {
        return kMakeRequestError;
    }
    return made;
}

std::optional<Bytes> signCertRequest(const DeviceSession& session, std::uint32_t privateKeyFid,
                                     const CertRequestItem& item,
                                     std::span<const std::uint8_t> publicKey, X509_REQ& request) {
    ERR_clear_error();
    unsigned char* tbsBytes = nullptr;
    const int tbsSize = i2d_re_X509_REQ_tbs(&request, &tbsBytes);
    const OpensslBytesPtr tbsOwner(tbsBytes);
    if (tbsSize <= 0) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> tbs(tbsBytes, static_cast<std::size_t>(tbsSize));

    const bool sm2 = isSm2(item);
    std::optional<Bytes> signature;
    if (sm2) {
        signature = signSm2(session, privateKeyFid, item, publicKey, tbs);
    } else if (const int size = EVP_PKEY_get_size(X509_REQ_get0_pubkey(&request)); size > 0) {
        signature = keySign(session, item, privateKeyFid, DRV_SIGN_DATA, tbs,
                            static_cast<std::size_t>(size));
    }
    if (!signature || !setSignature(request, *signature) || !verifyRequest(request, sm2)) {
        return std::nullopt;
    }

    const int size = i2d_X509_REQ(&request, nullptr);
    if (size <= 0 || static_cast<std::size_t>(size) > kCertRequestRoom) {
        return std::nullopt;
    }
    Bytes der(static_cast<std::size_t>(size));
    unsigned char* out = der.data();
    if (i2d_X509_REQ(&request, &out) != size) {
        return std::nullopt;
    }
    return der;
}

}  // namespace orva::api
