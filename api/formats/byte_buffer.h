#pragma once

// The byte buffer every format routine fills, and size arithmetic that cannot
// wrap.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "orva/bytes.h"

namespace orva::api {

using orva::Bytes;

// sum := the sum of the terms; false (sum unchanged) when it would not fit.
inline bool checkedSum(std::initializer_list<std::size_t> terms, std::size_t& sum) noexcept {
    std::size_t total = 0;
    for (const std::size_t term : terms) {
        if (__builtin_add_overflow(total, term, &total)) {
            return false;
        }
    }
    sum = total;
    return true;
}

}  // namespace orva::api
