// Exports that identify the key and the installed software: the serial
// number, the driver version and the provider information.

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

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

// "DisplayVersion" as a text of at most 260 bytes; none when it cannot be read.
[[nodiscard]] std::optional<std::string> readDisplayVersion(HKEY key) {
    // A stored value need not end in a NUL: one byte more stays NUL.
    std::array<char, kVersionRoom + 1> data{};
    DWORD size = kVersionRoom;
    if (RegQueryValueExA(key, kDisplayVersionValue, nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(data.data()), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(data.data(), strnlen(data.data(), size));
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
        if (const ApiErrorCode code =
                session.call(&DravikApi::QZReadSN, serial.data()).checked(kOperationFailed);
            code != kSuccess) {
            return code;
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
        RegistryKey key = openUninstallEntry(kUninstallKeyParent);
        if (!key) {
            key = openUninstallEntry(kUninstallKeyParent32);
        }
        std::optional<std::string> read = key ? readDisplayVersion(key.get()) : std::nullopt;
        if (!read) {
            return kDriverNotInstalled;
        }
        version = std::move(*read);
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
