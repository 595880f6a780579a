#pragma once

// Base64 by the algorithm library's encoder, which takes no capacity: the
// room is always sized here from the input.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace orva::api {

// The text, or none when the encoder reports failure (it does for no bytes).
[[nodiscard]] std::optional<std::string> makerBase64(std::span<const std::uint8_t> bytes);

}  // namespace orva::api
