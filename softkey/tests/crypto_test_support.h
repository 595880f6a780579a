#pragma once

// Helpers for the cryptography tests: the shared test support, plus the openssl
// command line, which checks our output independently, and the key's secure
// strings.

#include <string>
#include <string_view>

#include "orva/testing/openssl.h"
#include "orva/testing/support.h"
#include "secure_bytes.h"

namespace orva::softkey::test {

using orva::testing::derSignatureFromRs;
using orva::testing::fromHex;
using orva::testing::openssl;
using orva::testing::readFile;
using orva::testing::readText;
using orva::testing::TempDir;
using orva::testing::toHex;
using orva::testing::writeFile;
using Run = orva::testing::CommandResult;

inline std::string pemText(const SecureString& pem) {
    return std::string(pem.begin(), pem.end());
}

inline SecureString secure(std::string_view text) {
    return SecureString(text.begin(), text.end());
}

}  // namespace orva::softkey::test
