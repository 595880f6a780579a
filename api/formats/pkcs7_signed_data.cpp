#include "pkcs7_signed_data.h"

#include <array>
#include <new>
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

std::optional<Encoding> rsaDigestAlgorithm(int hashId) noexcept {
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
std::optional<Encoding> certificateDer(Encoding certificate) noexcept {
    DerElement outer;
    if (readDerSequence(certificate, outer) != kDerReadOk) {
        return std::nullopt;
    }
    return outer.tlv;
}

// r or s as a minimal INTEGER: leading zero bytes dropped (one kept for zero)
// and one 00 put back in front of a high bit.
bool appendSm2Integer(Encoding value, Bytes& out) {
    std::size_t skip = 0;
    while (skip + 1 < value.size() && value[skip] == 0) {
        ++skip;
    }
    Bytes body;
    if ((value[skip] & kHighBit) != 0) {
        body.push_back(0x00);
    }
    body.insert(body.end(), value.begin() + static_cast<std::ptrdiff_t>(skip), value.end());
    return encodeDerValue(kDerTagInteger, body, out);
}

// SignerInfo contents wrapped: 30 { contents }, then the one-element set
// 31 { that }.
bool wrapSignerInfo(Bytes contents, Bytes& out) {
    DerChain signerInfo;
    signerInfo.append(std::move(contents));
    if (!signerInfo.wrap(kDerTagSequence) || !signerInfo.wrap(kDerTagSet)) {
        return false;
    }
    out = signerInfo.toBytes();
    return true;
}

// A0 followed by the signer certificate, unchanged: the one certificate, no CRLs.
bool buildCertificates(Encoding certificate, DerChain& out) {
    const auto der = certificateDer(certificate);
    if (!der) {
        return false;
    }
    out.appendBorrowed(*der);
    return out.wrap(kDerTagContext0);
}

// Steps 5 and 6 of both builders: the SignedData and the ContentInfo around it.
bool finishSignedData(Bytes digestAlgorithms, DerChain contentInfo, DerChain certificates,
                      Bytes signerInfos, DerChain& out) {
    DerChain signedData;
    signedData.append(bytesOf(kVersion1));
    signedData.append(std::move(digestAlgorithms));
    signedData.append(std::move(contentInfo));
    signedData.append(std::move(certificates));
    signedData.append(std::move(signerInfos));
    if (!signedData.wrap(kDerTagSequence) || !signedData.wrap(kDerTagContext0)) {
        return false;
    }
    signedData.prepend(bytesOf(kSignedDataContentType));
    if (!signedData.wrap(kDerTagSequence)) {
        return false;
    }
    out = std::move(signedData);
    return true;
}

// A built ContentInfo written to out or only measured.
bool writeSignedData(const DerChain& signedData, std::span<std::uint8_t> out,
                     std::size_t& outLength) noexcept {
    if (out.data() != nullptr && !signedData.writeTo(out)) {
        return false;
    }
    outLength = signedData.size();
    return true;
}

}  // namespace

bool extractIssuerAndSerial(std::span<const std::uint8_t> certificate, Bytes& out) {
    try {
        // Certificate, then tbsCertificate.
        DerElement outer;
        DerElement tbs;
        if (readDerSequence(certificate, outer) != kDerReadOk ||
            readDerSequence(outer.content, tbs) != kDerReadOk) {
            return false;
        }
        Encoding rest = tbs.content;
        // An explicit version: A0 03, then an INTEGER filling those 3 bytes.
        if (rest.size() >= 2 && rest[0] == kExplicitVersionTag[0] &&
            rest[1] == kExplicitVersionTag[1]) {
            DerElement version;
            if (readDerInteger(rest.subspan(2), version) != kDerReadOk ||
                version.tlv.size() != kExplicitVersionSize) {
                return false;
            }
            rest = rest.subspan(2 + kExplicitVersionSize);
        }
        // serialNumber, the signature AlgorithmIdentifier, issuer.
        DerElement serial;
        DerElement signatureAlgorithm;
        DerElement issuer;
        if (readDerInteger(rest, serial) != kDerReadOk) {
            return false;
        }
        rest = rest.subspan(serial.tlv.size());
        if (readDerSequence(rest, signatureAlgorithm) != kDerReadOk) {
            return false;
        }
        rest = rest.subspan(signatureAlgorithm.tlv.size());
        if (readDerSequence(rest, issuer) != kDerReadOk) {
            return false;
        }
        // Issuer first, then the serial, as IssuerAndSerialNumber has them.
        Bytes contents(issuer.tlv.begin(), issuer.tlv.end());
        contents.insert(contents.end(), serial.tlv.begin(), serial.tlv.end());
        Bytes encoded;
        if (!encodeDerValue(kDerTagSequence, contents, encoded)) {
            return false;
        }
        out = std::move(encoded);
        return true;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
}

bool buildSignerInfoRsa(std::span<const std::uint8_t> signature,
                        std::span<const std::uint8_t> certificate, int hashId, Bytes& out) {
    try {
        // Digest AlgorithmIdentifier.
        const auto digestAlgorithm = rsaDigestAlgorithm(hashId);
        if (!digestAlgorithm || signature.empty()) {
            return false;
        }
        // encryptedDigest: the signature block in an OCTET STRING (04 81 80
        // for 128 bytes, 04 82 01 00 for 256, the DER length for any other).
        Bytes encryptedDigest;
        if (!encodeDerValue(kDerTagOctetString, signature, encryptedDigest)) {
            return false;
        }
        // IssuerAndSerialNumber.
        Bytes issuerAndSerial;
        if (!extractIssuerAndSerial(certificate, issuerAndSerial)) {
            return false;
        }
        // version, issuerAndSerial, digest, rsaEncryption, encryptedDigest.
        Bytes contents = bytesOf(kVersion1);
        contents.insert(contents.end(), issuerAndSerial.begin(), issuerAndSerial.end());
        contents.insert(contents.end(), digestAlgorithm->begin(), digestAlgorithm->end());
        contents.insert(contents.end(), std::begin(kRsaEncryptionAlgorithmId),
                        std::end(kRsaEncryptionAlgorithmId));
        contents.insert(contents.end(), encryptedDigest.begin(), encryptedDigest.end());
        // SignerInfo SEQUENCE in the signerInfos SET.
        return wrapSignerInfo(std::move(contents), out);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
}

bool buildSignerInfoSm2(std::span<const std::uint8_t> signature,
                        std::span<const std::uint8_t> certificate, Bytes& out) {
    try {
        if (signature.size() != kSm2SignatureSize) {
            return false;
        }
        // OCTET STRING { SEQUENCE { INTEGER r, INTEGER s } }.
        Bytes integers;
        if (!appendSm2Integer(signature.first(kSm2ValueSize), integers) ||
            !appendSm2Integer(signature.subspan(kSm2ValueSize), integers)) {
            return false;
        }
        Bytes pair;
        Bytes encryptedDigest;
        if (!encodeDerValue(kDerTagSequence, integers, pair) ||
            !encodeDerValue(kDerTagOctetString, pair, encryptedDigest)) {
            return false;
        }
        // IssuerAndSerialNumber.
        Bytes issuerAndSerial;
        if (!extractIssuerAndSerial(certificate, issuerAndSerial)) {
            return false;
        }
        // version, issuerAndSerial, SM3, SM2, encryptedDigest.
        Bytes contents = bytesOf(kVersion1);
        contents.insert(contents.end(), issuerAndSerial.begin(), issuerAndSerial.end());
        contents.insert(contents.end(), std::begin(kSm3AlgorithmId), std::end(kSm3AlgorithmId));
        contents.insert(contents.end(), std::begin(kSm2SignatureAlgorithmId),
                        std::end(kSm2SignatureAlgorithmId));
        contents.insert(contents.end(), encryptedDigest.begin(), encryptedDigest.end());
        // SignerInfo SEQUENCE in the signerInfos SET.
        return wrapSignerInfo(std::move(contents), out);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
}

bool buildDataContentInfo(std::span<const std::uint8_t> content, DerChain& out) {
    try {
        DerChain contentInfo;
        contentInfo.appendBorrowed(content);
        if (!contentInfo.wrap(kDerTagOctetString) || !contentInfo.wrap(kDerTagContext0)) {
            return false;
        }
        contentInfo.prepend(bytesOf(kDataContentType));
        if (!contentInfo.wrap(kDerTagSequence)) {
            return false;
        }
        out = std::move(contentInfo);
        return true;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
}

bool buildPkcs7SignedDataRsa(std::span<const std::uint8_t> content, int contentMode,
                             std::span<const std::uint8_t> certificate,
                             std::span<const std::uint8_t> signature, int hashId, DerChain& out) {
    try {
        // digestAlgorithms by hash id, before anything else.
        const auto digestAlgorithm = rsaDigestAlgorithm(hashId);
        if (!digestAlgorithm || contentMode != kContentEmbedded) {
            return false;
        }
        Bytes digestAlgorithms;
        if (!encodeDerValue(kDerTagSet, *digestAlgorithm, digestAlgorithms)) {
            return false;
        }
        // contentInfo, certificates, signerInfos.
        DerChain contentInfo;
        DerChain certificates;
        Bytes signerInfos;
        if (!buildDataContentInfo(content, contentInfo) ||
            !buildCertificates(certificate, certificates) ||
            !buildSignerInfoRsa(signature, certificate, hashId, signerInfos)) {
            return false;
        }
        return finishSignedData(std::move(digestAlgorithms), std::move(contentInfo),
                                std::move(certificates), std::move(signerInfos), out);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
}

bool buildPkcs7SignedDataRsa(std::span<const std::uint8_t> content, int contentMode,
                             std::span<const std::uint8_t> certificate,
                             std::span<const std::uint8_t> signature, std::span<std::uint8_t> out,
                             std::size_t& outLength, int hashId) {
    DerChain signedData;
    return buildPkcs7SignedDataRsa(content, contentMode, certificate, signature, hashId,
                                   signedData) &&
           writeSignedData(signedData, out, outLength);
}

bool buildPkcs7SignedDataSm2(std::span<const std::uint8_t> content, int contentMode,
                             std::span<const std::uint8_t> certificate,
                             std::span<const std::uint8_t> signature, DerChain& out) {
    try {
        // digestAlgorithms: always SM3.
        if (contentMode != kContentEmbedded) {
            return false;
        }
        Bytes digestAlgorithms;
        if (!encodeDerValue(kDerTagSet, kSm3AlgorithmId, digestAlgorithms)) {
            return false;
        }
        // contentInfo, certificates, signerInfos.
        DerChain contentInfo;
        DerChain certificates;
        Bytes signerInfos;
        if (!buildDataContentInfo(content, contentInfo) ||
            !buildCertificates(certificate, certificates) ||
            !buildSignerInfoSm2(signature, certificate, signerInfos)) {
            return false;
        }
        return finishSignedData(std::move(digestAlgorithms), std::move(contentInfo),
                                std::move(certificates), std::move(signerInfos), out);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return false;
    }
}

bool buildPkcs7SignedDataSm2(std::span<const std::uint8_t> content, int contentMode,
                             std::span<const std::uint8_t> certificate,
                             std::span<const std::uint8_t> signature, std::span<std::uint8_t> out,
                             std::size_t& outLength) {
    DerChain signedData;
    return buildPkcs7SignedDataSm2(content, contentMode, certificate, signature, signedData) &&
           writeSignedData(signedData, out, outLength);
}

bool pkcs7SignedDataSm2SizeBound(std::span<const std::uint8_t> content,
                                 std::span<const std::uint8_t> certificate, std::size_t& size) {
    std::array<std::uint8_t, kSm2SignatureSize> widest{};
    widest.fill(0xFF);
    return buildPkcs7SignedDataSm2(content, kContentEmbedded, certificate, widest, {}, size);
}

}  // namespace orva::api
