#pragma once

// The key ids a page names containers by when it deletes keys that never got
// a certificate: a key's public-key file id, written as two decimal digits.

#include <cstdint>
#include <optional>
#include <string_view>

namespace orva::api {

inline constexpr std::size_t kContainerIdDigits = 2;

// The id an item names: exactly two ASCII digits ("07", "10"); none for
// anything else (a sign, a blank, a letter, another length).
[[nodiscard]] std::optional<std::uint32_t> parseContainerId(std::string_view item) noexcept;

}  // namespace orva::api
