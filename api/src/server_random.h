#pragma once

// DecodeServerRandom: the 15-byte random a bank's server sends, in base64,
// with the key material it enciphers for this key.

#include <array>
#include <cstdint>

#include "result.h"

namespace orva::api {

inline constexpr std::size_t kServerRandomSize = 15;

using ServerRandom = std::array<std::uint8_t, kServerRandomSize>;

// The 15 bytes of text. A null or empty text is kInvalidParameter; a text that is not
// well-formed base64 (a length that is not a multiple of four, a character outside the
// alphabet) is kBase64DecodeError; one that decodes to any size but 15 is kInvalidParameter.
Result<ServerRandom> decodeServerRandom(const char* text) noexcept;

}  // namespace orva::api
