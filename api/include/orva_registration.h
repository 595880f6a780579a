#pragma once

// Where the product registers itself under HKEY_LOCAL_MACHINE, written by
// orva-setup and read by the library and the front ends. The provider key holds
// "Image Path", whose folder holds the token API library; it is written in the
// native and the 32-bit view. The uninstall entry holds "DisplayVersion".

#include "win32/registry.h"

namespace orva {

inline constexpr const char* kProviderName = "Korvane CSP ORVA V1.0";

inline constexpr const char* kProviderKeyParent =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
// The registry views the provider key is written in: a 32-bit process (the
// host) reads the 32-bit one, the others the native one.
inline constexpr REGSAM kProviderKeyViews[] = {0, KEY_WOW64_32KEY};
inline constexpr const char* kImagePathValue = "Image Path";
// The CSP module "Image Path" names; the front ends take only its folder.
inline constexpr const char* kCspModuleName = "qzcore3.so";

inline constexpr const char* kUninstallKeyParent =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The same entry as a 32-bit installer leaves it.
inline constexpr const char* kUninstallKeyParent32 =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr const char* kDisplayNameValue = "DisplayName";
inline constexpr const char* kDisplayVersionValue = "DisplayVersion";

}  // namespace orva
