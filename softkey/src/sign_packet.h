#pragma once

// The key's reading of a to-be-signed packet: what it shows and what it signs.
//   binary form (2): 0x11 outer header, then 0x21 transaction, 0x23 file, 0x22 display;
//                    each header is tag (1) | 00 00 00 00 | length (4, big-endian)
//   text form (1):   "11" outer header, then "21" transaction, "22" display, "23" file;
//                    each header is two tag digits | length as ten decimal digits
// The outer length is the sum of the three inner elements with their headers.

#include <cstdint>
#include <optional>
#include <span>

#include "secure_bytes.h"

namespace orva::softkey {

inline constexpr std::uint32_t kPacketFormText = 1;
inline constexpr std::uint32_t kPacketFormBinary = 2;

struct SignPacketView {
    std::span<const std::uint8_t> transaction;
    std::span<const std::uint8_t> display;
    std::span<const std::uint8_t> fileField;  // empty without an attached file
};

// The packet's parts, or nothing when it is not a well-formed packet of that form
// (wrong tags or order, lengths that do not add up, trailing bytes).
std::optional<SignPacketView> parseSignPacket(std::uint32_t form,
                                              std::span<const std::uint8_t> packet);

}  // namespace orva::softkey
