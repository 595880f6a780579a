#include "pkcs7_signed_data.h"

#include <array>
#include <optional>
#include <utility>

#include "hash_ids.h"

namespace orva::api {

namespace {

using Encoding = std::span<const std::uint8_t>;

// AlgorithmIdentifiers, each with its NULL parameter.
constexpr std::uint8_t kMd5AlgorithmId[] = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                            0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00};
constexpr std::uint8_t kSha1AlgorithmId[] = {0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                             0x03, 0x02, 0x1A, 0x05, 0x00};
constexpr std::uint8_t kSha256AlgorithmId[] = {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                               0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00};
constexpr std::uint8_t kSha384AlgorithmId[] = {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                               0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00};
constexpr std::uint8_t kSha512AlgorithmId[] = {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                               0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00};
constexpr std::uint8_t kSm3AlgorithmId[] = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x81, 0x1C,
                                            0xCF, 0x55, 0x01, 0x83, 0x11, 0x05, 0x00};
constexpr std::uint8_t kRsaEncryptionAlgorithmId[] = {
    0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
// The SM2 algorithm itself (1.2.156.10197.1.301), not SM2-with-SM3.
constexpr std::uint8_t kSm2SignatureAlgorithmId[] = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x81, 0x1C,
                                                     0xCF, 0x55, 0x01, 0x82, 0x2D, 0x05, 0x00};
constexpr std::uint8_t kDataContentType[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                             0xF7, 0x0D, 0x01, 0x07, 0x01};
constexpr std::uint8_t kSignedDataContentType[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                   0xF7, 0x0D, 0x01, 0x07, 0x02};
constexpr std::uint8_t kVersion1[] = {0x02, 0x01, 0x01};
// An explicit version field of three bytes: [0] { INTEGER }.
constexpr std::uint8_t kExplicitVersionTag[] = {0xA0, 0x03};
constexpr std::size_t kExplicitVersionSize = 3;
constexpr std::size_t kSm2ValueSize = kSm2SignatureSize / 2;
constexpr std::uint8_t kHighBit = 0x80;

Bytes bytesOf(Encoding encoding) {
    return Bytes(encoding.begin(), encoding.end());
}

[[nodiscard]] std::optional<Encoding> rsaDigestAlgorithm(int hashId) noexcept {
    switch (hashId) {
        case kHashIdMd5:
            return Encoding(kMd5AlgorithmId);
        case kHashIdSha1:
            return Encoding(kSha1AlgorithmId);
        case kHashIdSha256:
            return Encoding(kSha256AlgorithmId);
        case kHashIdSha384:
            return Encoding(kSha384AlgorithmId);
        case kHashIdSha512:
            return Encoding(kSha512AlgorithmId);
        default:
            return std::nullopt;
    }
}

// The certificate's own TLV, which must end inside what was read from the key.
[[nodiscard]] std::optional<Encoding> certificateDer(Encoding certificate) noexcept {
    const std::optional<DerElement> outer = readDerSequence(certificate);
    if (!outer) {
        return std::nullopt;
    }
    return outer->tlv;
}

// r or s as a minimal INTEGER: leading zero bytes dropped (one kept for zero)
// and one 00 put back in front of a high bit.
[[nodiscard]] std::optional<Bytes> sm2Integer(Encoding value) {
    std::size_t skip = 0;
    while (skip + 1 < value.size() && value[skip] == 0) {
        ++skip;
    }
    Bytes body;
    if ((value[skip] & kHighBit) != 0) {
        body.push_back(0x00);
    }
    body.insert(body.end(), value.begin() + static_cast<std::ptrdiff_t>(skip), value.end());
    return encodeDerValue(kDerTagInteger, body);
}

// The signerInfos SET around one SignerInfo: version, issuerAndSerial, the
// digest and signature AlgorithmIdentifiers, encryptedDigest.
[[nodiscard]] std::optional<Bytes> signerInfosOf(Encoding certificate, Encoding digestAlgorithm,
                                                 Encoding signatureAlgorithm,
                                                 Encoding encryptedDigest) {
    const std::optional<Bytes> issuerAndSerial = extractIssuerAndSerial(certificate);
    if (!issuerAndSerial) {
        return std::nullopt;
    }
    Bytes contents = bytesOf(kVersion1);
    for (const Encoding part :
         {Encoding(*issuerAndSerial), digestAlgorithm, signatureAlgorithm, encryptedDigest}) {
        contents.insert(contents.end(), part.begin(), part.end());
    }
    // The SignerInfo SEQUENCE, then the one-element SET around it.
    DerChain signerInfos;
    signerInfos.append(std::move(contents));
    if (signerInfos.wrap(kDerTagSequence) != kSuccess || signerInfos.wrap(kDerTagSet) != kSuccess) {
        return std::nullopt;
    }
    return signerInfos.toBytes();
}

// A0 followed by the signer certificate, unchanged: the one certificate, no CRLs.
[[nodiscard]] std::optional<DerChain> buildCertificates(Encoding certificate) {
    const std::optional<Encoding> der = certificateDer(certificate);
    if (!der) {
        return std::nullopt;
    }
    DerChain certificates;
    certificates.appendBorrowed(*der);
    if (certificates.wrap(kDerTagContext0) != kSuccess) {
        return std::nullopt;
    }
    return certificates;
}

// The body both builders share: the digestAlgorithms SET, contentInfo,
// certificates, the signerInfos that signerInfosFor builds, then the SignedData
// and the ContentInfo around them.
template <class SignerInfos>
[[nodiscard]] std::optional<DerChain> assembleSignedData(Encoding digestAlgorithm, Encoding content,
                                                         Encoding certificate,
                                                         SignerInfos signerInfosFor) {
    std::optional<Bytes> digestAlgorithms = encodeDerValue(kDerTagSet, digestAlgorithm);
    if (!digestAlgorithms) {
        return std::nullopt;
    }
    std::optional<DerChain> contentInfo = buildDataContentInfo(content);
    if (!contentInfo) {
        return std::nullopt;
    }
    std::optional<DerChain> certificates = buildCertificates(certificate);
    if (!certificates) {
        return std::nullopt;
    }
    std::optional<Bytes> signerInfos = signerInfosFor();
    if (!signerInfos) {
        return std::nullopt;
    }
    DerChain signedData;
    signedData.append(bytesOf(kVersion1));
    signedData.append(std::move(*digestAlgorithms));
    signedData.append(std::move(*contentInfo));
    signedData.append(std::move(*certificates));
    signedData.append(std::move(*signerInfos));
    if (signedData.wrap(kDerTagSequence) != kSuccess ||
        signedData.wrap(kDerTagContext0) != kSuccess) {
        return std::nullopt;
    }
    signedData.prepend(bytesOf(kSignedDataContentType));
    if (signedData.wrap(kDerTagSequence) != kSuccess) {
        return std::nullopt;
    }
    return signedData;
}

// A built ContentInfo written to out or only measured.
[[nodiscard]] std::optional<std::size_t> writeSignedData(const std::optional<DerChain>& signedData,
                                                         std::span<std::uint8_t> out) noexcept {
    if (!signedData || (out.data() != nullptr && signedData->writeTo(out) != kSuccess)) {
        return std::nullopt;
    }
    return signedData->size();
}

}  // namespace

std::optional<Bytes> extractIssuerAndSerial(std::span<const std::uint8_t> certificate) {
    // Certificate, then tbsCertificate.
    const std::optional<DerElement> outer = readDerSequence(certificate);
    if (!outer) {
        return std::nullopt;
    }
    const std::optional<DerElement> tbs = readDerSequence(outer->content);
    if (!tbs) {
        return std::nullopt;
    }
    Encoding rest = tbs->content;
    // An explicit version: A0 03, then an INTEGER filling those 3 bytes.
    if (rest.size() >= 2 && rest[0] == kExplicitVersionTag[0] &&
        rest[1] == kExplicitVersionTag[1]) {
        const std::optional<DerElement> version = readDerInteger(rest.subspan(2));
        if (!version || version->tlv.size() != kExplicitVersionSize) {
            return std::nullopt;
        }
        rest = rest.subspan(2 + kExplicitVersionSize);
    }
    // serialNumber, the signature AlgorithmIdentifier, issuer.
    const std::optional<DerElement> serial = readDerInteger(rest);
    if (!serial) {
        return std::nullopt;
    }
    rest = rest.subspan(serial->tlv.size());
    const std::optional<DerElement> signatureAlgorithm = readDerSequence(rest);
    if (!signatureAlgorithm) {
        return std::nullopt;
    }
    rest = rest.subspan(signatureAlgorithm->tlv.size());
    const std::optional<DerElement> issuer = readDerSequence(rest);
    if (!issuer) {
        return std::nullopt;
    }
    // Issuer first, then the serial, as IssuerAndSerialNumber has them.
    Bytes contents(issuer->tlv.begin(), issuer->tlv.end());
    contents.insert(contents.end(), serial->tlv.begin(), serial->tlv.end());
    return encodeDerValue(kDerTagSequence, contents);
}

std::optional<Bytes> buildSignerInfoRsa(std::span<const std::uint8_t> signature,
                                        std::span<const std::uint8_t> certificate, int hashId) {
    // Digest AlgorithmIdentifier.
    const std::optional<Encoding> digestAlgorithm = rsaDigestAlgorithm(hashId);
    if (!digestAlgorithm || signature.empty()) {
        return std::nullopt;
    }
    // encryptedDigest: the signature block in an OCTET STRING (04 81 80 for 128
    // bytes, 04 82 01 00 for 256, the DER length for any other).
    const std::optional<Bytes> encryptedDigest = encodeDerValue(kDerTagOctetString, signature);
    if (!encryptedDigest) {
        return std::nullopt;
    }
    return signerInfosOf(certificate, *digestAlgorithm, kRsaEncryptionAlgorithmId,
                         *encryptedDigest);
}

std::optional<Bytes> buildSignerInfoSm2(std::span<const std::uint8_t> signature,
                                        std::span<const std::uint8_t> certificate) {
    if (signature.size() != kSm2SignatureSize) {
        return std::nullopt;
    }
    // OCTET STRING { SEQUENCE { INTEGER r, INTEGER s } }.
    std::optional<Bytes> integers = sm2Integer(signature.first(kSm2ValueSize));
    const std::optional<Bytes> s = sm2Integer(signature.subspan(kSm2ValueSize));
    if (!integers || !s) {
        return std::nullopt;
    }
    integers->insert(integers->end(), s->begin(), s->end());
    const std::optional<Bytes> pair = encodeDerValue(kDerTagSequence, *integers);
    if (!pair) {
        return std::nullopt;
    }
    const std::optional<Bytes> encryptedDigest = encodeDerValue(kDerTagOctetString, *pair);
    if (!encryptedDigest) {
        return std::nullopt;
    }
    return signerInfosOf(certificate, kSm3AlgorithmId, kSm2SignatureAlgorithmId, *encryptedDigest);
}

std::optional<DerChain> buildDataContentInfo(std::span<const std::uint8_t> content) {
    DerChain contentInfo;
    contentInfo.appendBorrowed(content);
    if (contentInfo.wrap(kDerTagOctetString) != kSuccess ||
        contentInfo.wrap(kDerTagContext0) != kSuccess) {
        return std::nullopt;
    }
    contentInfo.prepend(bytesOf(kDataContentType));
    if (contentInfo.wrap(kDerTagSequence) != kSuccess) {
        return std::nullopt;
    }
    return contentInfo;
}

std::optional<DerChain> buildPkcs7SignedDataRsa(std::span<const std::uint8_t> content,
                                                int contentMode,
                                                std::span<const std::uint8_t> certificate,
                                                std::span<const std::uint8_t> signature,
                                                int hashId) {
    // digestAlgorithms by hash id, before anything else.
    const std::optional<Encoding> digestAlgorithm = rsaDigestAlgorithm(hashId);
    if (!digestAlgorithm || contentMode != kContentEmbedded) {
        return std::nullopt;
    }
    return assembleSignedData(*digestAlgorithm, content, certificate,
                              [&] { return buildSignerInfoRsa(signature, certificate, hashId); });
}

std::optional<std::size_t> buildPkcs7SignedDataRsa(std::span<const std::uint8_t> content,
                                                   int contentMode,
                                                   std::span<const std::uint8_t> certificate,
                                                   std::span<const std::uint8_t> signature,
                                                   std::span<std::uint8_t> out, int hashId) {
    return writeSignedData(
        buildPkcs7SignedDataRsa(content, contentMode, certificate, signature, hashId), out);
}

std::optional<DerChain> buildPkcs7SignedDataSm2(std::span<const std::uint8_t> content,
                                                int contentMode,
                                                std::span<const std::uint8_t> certificate,
                                                std::span<const std::uint8_t> signature) {
    // digestAlgorithms: always SM3.
    if (contentMode != kContentEmbedded) {
        return std::nullopt;
    }
    return assembleSignedData(kSm3AlgorithmId, content, certificate,
                              [&] { return buildSignerInfoSm2(signature, certificate); });
}

std::optional<std::size_t> buildPkcs7SignedDataSm2(std::span<const std::uint8_t> content,
                                                   int contentMode,
                                                   std::span<const std::uint8_t> certificate,
                                                   std::span<const std::uint8_t> signature,
                                                   std::span<std::uint8_t> out) {
    return writeSignedData(buildPkcs7SignedDataSm2(content, contentMode, certificate, signature),
                           out);
}

std::optional<std::size_t> pkcs7SignedDataSm2SizeBound(std::span<const std::uint8_t> content,
                                                       std::span<const std::uint8_t> certificate) {
    std::array<std::uint8_t, kSm2SignatureSize> widest{};
    widest.fill(0xFF);
    return buildPkcs7SignedDataSm2(content, kContentEmbedded, certificate, widest,
                                   std::span<std::uint8_t>());
}

}  // namespace orva::api
