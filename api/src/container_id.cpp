#include "container_id.h"

namespace orva::api {

std::optional<std::uint32_t> parseContainerId(std::string_view item) noexcept {
    if (item.size() != kContainerIdDigits) {
        return std::nullopt;
    }
    std::uint32_t id = 0;
    for (const char c : item) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        id = id * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return id;
}

}  // namespace orva::api
