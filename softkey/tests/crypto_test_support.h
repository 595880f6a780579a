#pragma once

// Helpers for the cryptography tests: the shared test support, plus the openssl
// command line, which checks our output independently, and the key's secure
// strings.

#include <string>
#include <string_view>

#include "orva/testing/support.h"
#include "secure_bytes.h"

namespace orva::softkey::test {

using orva::testing::derSignatureFromRs;
using orva::testing::fromHex;
using orva::testing::readFile;
using orva::testing::readText;
using orva::testing::TempDir;
using orva::testing::toHex;
using orva::testing::writeFile;
using Run = orva::testing::CommandResult;

// Runs `openssl <args>`; stdout and stderr together.
inline Run openssl(const std::string& args) {
    return orva::testing::runCommand(orva::testing::shellQuote(SOFTKEY_TEST_OPENSSL) + " " + args);
}

inline std::string pemText(const SecureString& pem) {
    return std::string(pem.begin(), pem.end());
}

inline SecureString secure(std::string_view text) {
    return SecureString(text.begin(), text.end());
}

}  // namespace orva::softkey::test
