#include "hash_name.h"

#include <array>
#include <utility>

#include "hash_ids.h"

namespace orva::api {

namespace {

constexpr std::array<std::pair<std::string_view, int>, 5> kHashNames = {{
    {"SHA1", kHashIdSha1},
    {"SHA256", kHashIdSha256},
    {"SHA384", kHashIdSha384},
    {"SHA512", kHashIdSha512},
    {"SM3", kHashIdSm3},
}};

}  // namespace

std::optional<int> hashNameToId(std::string_view name) noexcept {
    for (const auto& [known, knownId] : kHashNames) {
        if (name == known) {
            return knownId;
        }
    }
    return std::nullopt;
}

}  // namespace orva::api
