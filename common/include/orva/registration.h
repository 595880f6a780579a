#pragma once

// Where the product registers itself under HKEY_LOCAL_MACHINE, written by
// orva-setup and read by the library and the front ends. The provider key holds
// "Image Path", whose folder holds the token API library. The uninstall entry
// holds "DisplayVersion". Shared by every reader so that none restates them.

namespace orva {

inline constexpr const char* kProviderName = "Korvane CSP ORVA V1.0";

inline constexpr const char* kProviderKeyParent =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
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
