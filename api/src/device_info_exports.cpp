// Exports that identify the key and the installed software: the serial
// number, the driver version and the provider information.

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "bound_function_table.h"
#include "device_session.h"
#include "export_guard.h"
#include "orva/registration.h"
#include "orva/registry_key.h"
#include "orva_api.h"
#include "sized_output.h"
#include "win32/errors.h"
#include "win32/registry.h"

namespace orva::api {

namespace {

constexpr DWORD kVersionRoom = 260;
// GetCSPInfo reads the version into this much room.
constexpr int kCspVersionRoom = 32;

RegistryKey openUninstallEntry(const char* parent) {
    const std::string path = std::string(parent) + kProviderName;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return RegistryKey(key);
}

// "DisplayVersion" as a text of at most 260 bytes; false when it cannot be read.
bool readDisplayVersion(HKEY key, std::string& version) {
    // A stored value need not end in a NUL: one byte more stays NUL.
    std::array<char, kVersionRoom + 1> data{};
    DWORD size = kVersionRoom;
    if (RegQueryValueExA(key, kDisplayVersionValue, nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(data.data()), &size) != ERROR_SUCCESS) {
        return false;
    }
    version.assign(data.data(), strnlen(data.data(), size));
    return true;
}

ApiErrorCode getDevSN(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = session.open(Authentication::none); code != kSuccess) {
            return code;
        }
        // The serial comes without a length: one byte more than the key may
        // fill stays NUL.
        std::array<char, DRV_SERIAL_ROOM + 1> serial{};
        if (boundFunctions().dravik.QZReadSN(session.device(), serial.data()) != DRV_OK) {
            return kOperationFailed;
        }
        text.assign(serial.data(), strnlen(serial.data(), DRV_SERIAL_ROOM));
        if (text.empty()) {
            return kOperationFailed;
        }
        return kSuccess;
    });
}

ApiErrorCode getDriverVer(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& version) {
        // The process's own view first; only an entry that does not open there
        // sends us to the 32-bit one.
        if (const RegistryKey key = openUninstallEntry(kUninstallKeyParent)) {
            if (!readDisplayVersion(key.get(), version)) {
                return kDriverNotInstalled;
            }
        } else {
            const RegistryKey key32 = openUninstallEntry(kUninstallKeyParent32);
            if (!key32 || !readDisplayVersion(key32.get(), version)) {
                return kDriverNotInstalled;
            }
        }
        if (version.empty()) {
            return kOperationFailed;
        }
        return kSuccess;
    });
}

ApiErrorCode getCSPInfo(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        // Any failure to get the version, one that does not fit included, is kOperationFailed.
        std::array<char, kCspVersionRoom> version{};
        int versionLength = kCspVersionRoom;
        if (getDriverVer(version.data(), &versionLength) != kSuccess) {
            return kOperationFailed;
        }
        text = kProviderName;
        text += "||";
        text.append(version.data(), static_cast<std::size_t>(versionLength));
        return kSuccess;
    });
}

}  // namespace

}  // namespace orva::api

using orva::api::guardedExport;

extern "C" int QZAPI_GetDevSN(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::getDevSN(buffer, length); });
}

extern "C" int QZAPI_GetDriverVer(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::getDriverVer(buffer, length); });
}

extern "C" int QZAPI_GetCSPInfo(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::getCSPInfo(buffer, length); });
}
