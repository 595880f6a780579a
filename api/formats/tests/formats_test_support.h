#pragma once

// Helpers for the format tests: the shared test support, byte and text views,
// and the openssl command line, which checks our output independently.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "byte_buffer.h"
#include "orva/testing/openssl.h"
#include "orva/testing/support.h"

namespace orva::api::test {

using orva::testing::bytesOf;
using orva::testing::fromHex;
using orva::testing::openssl;
using orva::testing::readFile;
using orva::testing::TempDir;
using orva::testing::toHex;
using orva::testing::writeFile;
using Run = orva::testing::CommandResult;

inline std::string textOf(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace orva::api::test
