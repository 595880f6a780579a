#pragma once

// BuildCertRequest and SignCertRequest: the PKCS#10 request for a key pair the
// key has just made, signed by the key itself. OpenSSL cannot sign with a key
// it does not hold, so the request is built around the key's public key, the
// key signs its to-be-signed part, and that signature is set in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "byte_buffer.h"
#include "device_session.h"
#include "orva/openssl_ptr.h"
#include "request_description.h"
#include "result.h"

namespace orva::api {

// The largest request DER handed out.
inline constexpr std::size_t kCertRequestRoom = 4096;

// OpenSSL's NID of a digest id (4..8); NID_undef for any other.
int hashIdToNid(int hashId) noexcept;

// 04 || X || Y from the key's 64-byte X || Y; none for another length.
[[nodiscard]] std::optional<std::array<std::uint8_t, 65>> makeUncompressedPoint(
    std::span<const std::uint8_t> xy);

// RSAPublicKey DER from the key's public-key block: 2 header bytes, the
// modulus, and at the end the exponent, whose length (1 to 4) is the byte at
// length - 4. None for a block that does not hold one.
[[nodiscard]] std::optional<Bytes> convertTokenRsaPublicKey(std::span<const std::uint8_t> block);

// The unsigned request of an item around the key's public key (SM2 X || Y when
// the item's hash is SM3, else the RSA block): version 1, subject O, OU, CN in
// that DER order as UTF8Strings, and the signature algorithm the key's
// signature will have. kInvalidParameter for a hash without a NID, kConvertPublicKeyError for a
// public key that does not convert (an SM2 point off the curve included), kMakeRequestError when
// OpenSSL fails.
Result<X509ReqPtr> buildCertRequest(const CertRequestItem& item,
                                    std::span<const std::uint8_t> publicKey);

// Has the key sign the request with the private key in file privateKeyFid
// (SM2: over SM3(Z || to-be-signed DER); RSA: the to-be-signed DER, hashed by
// the key), sets the signature in, checks it under the request's own public
// key, and gives the request's DER. None for any failure, a signature that does
// not verify, or DER over kCertRequestRoom bytes: the request could not be made.
[[nodiscard]] std::optional<Bytes> signCertRequest(const DeviceSession& session,
                                                   std::uint32_t privateKeyFid,
                                                   const CertRequestItem& item,
                                                   std::span<const std::uint8_t> publicKey,
                                                   X509_REQ& request);

}  // namespace orva::api
