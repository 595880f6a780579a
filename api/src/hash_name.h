#pragma once

// HashNameToId: the digest names pages pass, as the key's digest ids.

#include <optional>
#include <string_view>

namespace orva::api {

// "SHA1", "SHA256", "SHA384", "SHA512" and "SM3", compared exactly (case
// included), as their ids; anything else none.
[[nodiscard]] std::optional<int> hashNameToId(std::string_view name) noexcept;

}  // namespace orva::api
