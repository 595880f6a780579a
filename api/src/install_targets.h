#pragma once

// Where issued certificates go: the containers that hold a signature key but no
// signature certificate yet, each with its public key in the form a
// certificate's key is compared in.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "byte_buffer.h"
#include "device_session.h"
#include "result.h"

namespace orva::api {

// The key type a certificate is registered with the system under.
inline constexpr std::uint16_t kRegistrationKeySpec = 2;

struct KeyContainerEntry {
    std::uint16_t type = 0;             // the container's type word
    std::uint8_t signPublicKeyFid = 0;  // low byte of the signature public-key file id
    std::uint16_t containerId = 0;      // what the container file operations take
    std::string name;                   // as the walk reports it
    Bytes publicKey;                    // SM2 X then Y (64), or an RSA modulus (128, 256)
    std::uint16_t keySpec = kRegistrationKeySpec;
};

// Every container with a signature key and without a signature certificate
// whose public-key file reads, in walk order. kNothingFound when there is none.
Result<std::vector<KeyContainerEntry>> listKeyContainersWithoutCert(const DeviceSession& session);

// The public key of a DER certificate in the entries' form: the 64 bytes of an
// uncompressed EC point, or the 128- or 256-byte RSA modulus (the exponent takes
// no part). Empty for a key of any other size, which matches no container; none
// when the DER does not decode.
[[nodiscard]] std::optional<Bytes> extractCertPublicKey(std::span<const std::uint8_t> der);

}  // namespace orva::api
