#pragma once

// The openssl command line, which checks our output independently of our code.

#include <string>

#include "orva/testing/support.h"

namespace orva::testing {

// `openssl <args>` as a shell command, with the program found at configure time.
inline std::string opensslCommand(const std::string& args) {
    return shellQuote(ORVA_TESTING_OPENSSL) + " " + args;
}

// Runs `openssl <args>`; stdout and stderr together.
inline CommandResult openssl(const std::string& args) {
    return runCommand(opensslCommand(args));
}

}  // namespace orva::testing
