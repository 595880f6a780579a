#pragma once

// What orva-setup's commands share.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace orva::setup {

namespace fs = std::filesystem;

// Ends the command: main prints the message and exits with 1.
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kHostName = "orva_xr_usbkey_extension";
// The id the extension in the repository gets from its "key".
inline constexpr const char* kBundledExtensionId = "gncnioanaacfgebcodcofjjihohdaphn";

// The folder this program was started from: the install folder.
fs::path programFolder();

// Provider key (native and 32-bit views) and uninstall entry for folder.
void registerInstall(const fs::path& folder, const std::string& version);
// Removes both; keys already gone are no failure.
void unregisterInstall();

enum class Browser { chromium, chrome };

// Where a manifest goes: system-wide, for the user, or under a browser's
// --user-data-dir.
struct ManifestPlace {
    enum Kind { system, user, userDataDir, file } kind = user;
    Browser browser = Browser::chromium;
    fs::path path;  // the folder for userDataDir, the file for file
};

// The manifest file for a place.
fs::path manifestFile(const ManifestPlace& place);
// Writes the manifest (atomically) and answers its file.
fs::path writeManifest(const ManifestPlace& place, const fs::path& host,
                       const std::vector<std::string>& extensionIds);
// Removes it; answers whether there was one.
bool removeManifest(const ManifestPlace& place);

// 32 letters a to p, as Chromium derives extension ids.
bool isExtensionId(const std::string& id);

}  // namespace orva::setup
