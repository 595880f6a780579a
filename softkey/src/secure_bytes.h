#pragma once

// The types secrets live in: every byte in blocks that are wiped when freed.

#include <cstdint>
#include <vector>

#include "orva/bytes.h"
#include "secure_string.h"
#include "wiping_allocator.h"

namespace orva::softkey {

using orva::Bytes;

// Private keys and session keys live in these; PINs and key files in SecureString.
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

}  // namespace orva::softkey
