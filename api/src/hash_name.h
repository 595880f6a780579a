#pragma once

// HashNameToId: the digest names pages pass, as the key's digest ids.

#include <string_view>

namespace orva::api {

// "SHA1", "SHA256", "SHA384", "SHA512" and "SM3", compared exactly (case
// included): true with id set; anything else false, id unchanged.
bool hashNameToId(std::string_view name, int& id) noexcept;

}  // namespace orva::api
