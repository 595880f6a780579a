#pragma once

// A module file's version as "major.minor.build.revision".

#include <string>

#include "win32/version.h"

namespace orva::control {

// The version calls, replaceable by tests.
struct VersionServices {
    decltype(&GetFileVersionInfoSizeA) size;
    decltype(&GetFileVersionInfoA) read;
    decltype(&VerQueryValueA) query;
};
const VersionServices& platformVersionServices() noexcept;

// Empty when the file has no version block, or its fixed part cannot be
// read whole.
std::string fileVersionText(const char* file,
                            const VersionServices& services = platformVersionServices());

}  // namespace orva::control
