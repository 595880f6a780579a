#pragma once

// Bytes as every component passes them: owned as Bytes, read as a span.

#include <cstdint>
#include <vector>

namespace orva {

using Bytes = std::vector<std::uint8_t>;

}  // namespace orva
