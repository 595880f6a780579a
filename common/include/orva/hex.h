#pragma once

// Bytes as hex digits, two per byte, and back.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "orva/bytes.h"

namespace orva {

enum class HexCase { lower, upper };

// The digit for the low four bits of nibble.
char hexDigit(unsigned nibble, HexCase letters = HexCase::lower) noexcept;

// The value of one hex digit in either case, or -1.
int hexValue(char c) noexcept;

std::string toHex(std::span<const std::uint8_t> bytes, HexCase letters = HexCase::lower);

// Digits in either case, an even count, nothing else.
std::optional<Bytes> fromHex(std::string_view text);

}  // namespace orva
