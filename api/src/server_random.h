#pragma once

// DecodeServerRandom: the 15-byte random a bank's server sends, in base64,
// with the key material it enciphers for this key.

#include <array>
#include <cstdint>

#include "orva_result_codes.h"

namespace orva::api {

inline constexpr std::size_t kServerRandomSize = 15;

using ServerRandom = std::array<std::uint8_t, kServerRandomSize>;

// Decodes text into out and sets length to 15. A null or empty text or a null
// length is kInvalidParameter; a text that is not well-formed base64 (a length that is not
// a multiple of four, a character outside the alphabet) is kBase64DecodeError; one that
// decodes to any size but 15 is kInvalidParameter. Nothing is written on failure.
ApiErrorCode decodeServerRandom(const char* text, ServerRandom& out, int* length) noexcept;

}  // namespace orva::api
