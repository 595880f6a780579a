#pragma once

// Standard base64 without line breaks.

#include <cstddef>
#include <cstdint>
#include <span>

namespace orva::qzalg {

// The number of characters base64 makes of size bytes: 4 * ceil(size / 3).
constexpr std::size_t base64Size(std::size_t size) noexcept {
    return (size + 2) / 3 * 4;
}

// Writes exactly base64Size(data.size()) characters to out, and no NUL.
void base64Encode(std::span<const std::uint8_t> data, std::span<char> out);

}  // namespace orva::qzalg
