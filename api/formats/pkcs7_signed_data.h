#pragma once

// PKCS#7 SignedData around a bare signature from the key, byte for byte:
//   30 { 06 signedData, A0 { 30 {
//     02 01 01, 31 { digest AlgorithmIdentifier },
//     30 { 06 data, A0 { 04 content } },
//     A0 certificate,
//     31 { 30 { 02 01 01, 30 { issuer, serial }, digest AlgorithmIdentifier,
//               signature AlgorithmIdentifier, 04 encryptedDigest } } } } }
// No attributes: the signature is over the content itself. Every
// AlgorithmIdentifier carries an explicit NULL.
//
// Builders give what they built, or none for input they refuse; the caller
// names the code for none. A failed allocation throws std::bad_alloc, so that
// it reads as the memory code; they never write past their output.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "byte_buffer.h"
#include "der_writer.h"

namespace orva::api {

// The content is carried inside the SignedData: the only mode there is.
inline constexpr int kContentEmbedded = 1;
// An SM2 signature from the key: r then s, 32 bytes each, big-endian.
inline constexpr std::size_t kSm2SignatureSize = 64;

// SEQUENCE { issuer Name, serialNumber }, both as they stand in the certificate
// (version 1 and version 3 certificates alike). The certificate is the DER read
// from the key; its outer TLV must end inside it.
[[nodiscard]] std::optional<Bytes> extractIssuerAndSerial(
    std::span<const std::uint8_t> certificate);

// The signerInfos SET with one SignerInfo over an RSA signature of any non-zero
// length. Hash ids 3 (MD5) to 7 (SHA-512).
[[nodiscard]] std::optional<Bytes> buildSignerInfoRsa(std::span<const std::uint8_t> signature,
                                                      std::span<const std::uint8_t> certificate,
                                                      int hashId);

// The signerInfos SET with one SignerInfo over an SM2 signature, which must be
// 64 bytes. r and s become minimal DER INTEGERs (leading zero bytes dropped,
// one 00 in front of a high bit), as verifiers require.
[[nodiscard]] std::optional<Bytes> buildSignerInfoSm2(std::span<const std::uint8_t> signature,
                                                      std::span<const std::uint8_t> certificate);

// 30 { 06 data, A0 { 04 content } }, borrowing content.
[[nodiscard]] std::optional<DerChain> buildDataContentInfo(std::span<const std::uint8_t> content);

// The ContentInfo of type signedData into out; gives its length. An out without
// storage (a default span) asks for the length only, after the same work. None,
// nothing written, for a hash id outside 3 to 7 (checked first), a content mode
// other than kContentEmbedded, a certificate that cannot be walked, an empty
// signature, or an out shorter than the result.
[[nodiscard]] std::optional<std::size_t> buildPkcs7SignedDataRsa(
    std::span<const std::uint8_t> content, int contentMode,
    std::span<const std::uint8_t> certificate, std::span<const std::uint8_t> signature,
    std::span<std::uint8_t> out, int hashId);

// The same for SM2 with SM3; the signature must be 64 bytes.
[[nodiscard]] std::optional<std::size_t> buildPkcs7SignedDataSm2(
    std::span<const std::uint8_t> content, int contentMode,
    std::span<const std::uint8_t> certificate, std::span<const std::uint8_t> signature,
    std::span<std::uint8_t> out);

// The same ContentInfos as chains that borrow content and certificate (which
// must outlive them), for a caller that writes them piece by piece; the same
// refusals.
[[nodiscard]] std::optional<DerChain> buildPkcs7SignedDataRsa(
    std::span<const std::uint8_t> content, int contentMode,
    std::span<const std::uint8_t> certificate, std::span<const std::uint8_t> signature, int hashId);
[[nodiscard]] std::optional<DerChain> buildPkcs7SignedDataSm2(
    std::span<const std::uint8_t> content, int contentMode,
    std::span<const std::uint8_t> certificate, std::span<const std::uint8_t> signature);

// The largest SM2 SignedData any signature can give for this content and
// certificate: the size to reserve before the key has signed (r and s with the
// high bit set need the most bytes, and no length grows smaller with them).
[[nodiscard]] std::optional<std::size_t> pkcs7SignedDataSm2SizeBound(
    std::span<const std::uint8_t> content, std::span<const std::uint8_t> certificate);

}  // namespace orva::api
