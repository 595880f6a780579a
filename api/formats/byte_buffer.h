#pragma once

// The byte buffer every format routine fills, and size arithmetic that cannot
// wrap.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "orva/bytes.h"

namespace orva::api {

using orva::Bytes;

// The sum of the terms; none when it would not fit.
[[nodiscard]] inline std::optional<std::size_t> checkedSum(
    std::initializer_list<std::size_t> terms) noexcept {
    std::size_t total = 0;
    for (const std::size_t term : terms) {
        if (__builtin_add_overflow(total, term, &total)) {
            return std::nullopt;
        }
    }
    return total;
}

}  // namespace orva::api
