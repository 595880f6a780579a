// The registry entries of an install: the provider key, through which the
// front ends find the token API library, and the uninstall entry, whose
// version the library reports.

#include <string>

#include "orva/registration.h"
#include "orva/registry_key.h"
#include "setup.h"
#include "win32/errors.h"
#include "win32/registry.h"

namespace orva::setup {

namespace {

// The registry views the provider key is written in: a 32-bit process (the
// host) reads the 32-bit one, the others the native one.
constexpr REGSAM kProviderKeyViews[] = {0, KEY_WOW64_32KEY};

std::string describe(LSTATUS status) {
    switch (status) {
        case ERROR_ACCESS_DENIED:
            return "access denied (is the registry file writable?)";
        case ERROR_REGISTRY_CORRUPT:
        case ERROR_BADDB:
            return "the registry file is malformed";
        case ERROR_REGISTRY_IO_FAILED:
            return "the registry file cannot be written";
        default:
            return "error " + std::to_string(status);
    }
}

void setText(const std::string& subkey, REGSAM view, const char* name, const std::string& text) {
    HKEY created = nullptr;
    LSTATUS status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | view, nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) {
        throw Failure("cannot create HKLM\\" + subkey + ": " + describe(status));
    }
    const RegistryKey key(created);
    // REG_SZ data carries its NUL.
    status = RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
    if (status != ERROR_SUCCESS) {
        throw Failure("cannot set " + std::string(name) + " under HKLM\\" + subkey + ": " +
                      describe(status));
    }
}

void deleteTree(const std::string& subkey, REGSAM view) {
    HKEY parent = nullptr;
    const std::string parentPath = subkey.substr(0, subkey.rfind('\\'));
    const std::string child = subkey.substr(subkey.rfind('\\') + 1);
    LSTATUS status =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KEY_ALL_ACCESS | view, &parent);
    if (status == ERROR_FILE_NOT_FOUND) {
        return;
    }
    if (status != ERROR_SUCCESS) {
        throw Failure("cannot open HKLM\\" + parentPath + ": " + describe(status));
    }
    const RegistryKey key(parent);
    status = RegDeleteTreeA(key.get(), child.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        throw Failure("cannot delete HKLM\\" + subkey + ": " + describe(status));
    }
}

}  // namespace

void registerInstall(const fs::path& folder, const std::string& version) {
    if (!folder.is_absolute()) {
        throw Failure("the install folder must be an absolute path: " + folder.string());
    }
    const std::string imagePath = (folder / kCspModuleName).string();
    // The front ends take the folder up to the last '/', within 259 bytes.
    if (imagePath.size() > 259) {
        throw Failure("the install folder's path is too long: " + folder.string());
    }
    const std::string provider = std::string(kProviderKeyParent) + kProviderName;
    for (const REGSAM view : kProviderKeyViews) {
        setText(provider, view, kImagePathValue, imagePath);
    }
    const std::string uninstall = std::string(kUninstallKeyParent) + kProviderName;
    setText(uninstall, 0, kDisplayNameValue, kProviderName);
    setText(uninstall, 0, kDisplayVersionValue, version);
}

void unregisterInstall() {
    const std::string provider = std::string(kProviderKeyParent) + kProviderName;
    for (const REGSAM view : kProviderKeyViews) {
        deleteTree(provider, view);
    }
    deleteTree(std::string(kUninstallKeyParent) + kProviderName, 0);
}

}  // namespace orva::setup
