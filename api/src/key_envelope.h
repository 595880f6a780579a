#pragma once

// The envelope a bank's server sends beside the certificates: an encryption
// key pair sealed to a container's signature key, and its certificate, as five
// fields joined by "||":
//   base64(certificate) || algorithm || base64(A) || base64(B) || base64(C)

#include <cstdint>
#include <optional>
#include <string_view>

#include "byte_buffer.h"

namespace orva::api {

// The algorithm word the key opens the envelope with.
inline constexpr std::uint32_t kEnvelopeSm4Ecb = 208;
inline constexpr std::uint32_t kEnvelopeSm4Cbc = 210;

// What each part may hold, in bytes.
inline constexpr std::size_t kEnvelopeCertificateRoom = 4096;
inline constexpr std::size_t kEnvelopePartARoom = 512;
inline constexpr std::size_t kEnvelopePartBRoom = 256;
inline constexpr std::size_t kEnvelopePartCRoom = 4;

// A field the text does not reach stays empty (the algorithm word 0).
struct KeyEnvelope {
    Bytes certificate;
    std::uint32_t algorithmWord = 0;
    Bytes partA;
    Bytes partB;
    Bytes partC;
};

// The text may stop after any field, and a trailing "||" ends it. The second
// field is not decoded: "01..." selects 210, anything else (empty too) 208.
// Every other field must be non-empty base64 that decodes to no more than its
// part's room. None for a sixth field or a field that breaks these rules.
[[nodiscard]] std::optional<KeyEnvelope> parseKeyEnvelope(std::string_view text);

}  // namespace orva::api
