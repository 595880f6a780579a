// HKEY_CLASSES_ROOT access for the COM layer.

#include "class_registry.h"

#include <vector>

#include "win32/codepage.h"
#include "win32/errors.h"

namespace orva::platform::com {

HRESULT createClassKey(const std::string& path, RegistryKey* key) {
    HKEY created = nullptr;
    const LSTATUS status =
        RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    *key = RegistryKey(created);
    return S_OK;
}

HRESULT setString(const RegistryKey& key, const char* name, const std::string& value) {
    const LSTATUS status =
        RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    return HRESULT_FROM_WIN32(status);
}

namespace {

RegistryKey openClassKey(const std::string& path) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return RegistryKey();
    }
    return RegistryKey(opened);
}

}  // namespace

std::optional<std::string> readClassString(const std::string& path, const char* name) {
    const RegistryKey key = openClassKey(path);
    if (key.get() == nullptr) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    std::vector<char> data(std::size_t{size} + 1, '\0');
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()),
                         &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(data.data());
}

bool classKeyExists(const std::string& path) {
    return openClassKey(path).get() != nullptr;
}

bool classKeyHasSubkeys(const std::string& path) {
    const RegistryKey key = openClassKey(path);
    if (key.get() == nullptr) {
        return false;
    }
    char name[256];
    DWORD length = sizeof name;
    const LSTATUS status =
        RegEnumKeyExA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}

HRESULT deleteClassTree(const std::string& path) {
    const LSTATUS status = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT deleteClassKeyIfEmpty(const std::string& path) {
    if (!classKeyExists(path) || classKeyHasSubkeys(path)) {
        return S_OK;
    }
    const LSTATUS status = RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

std::string narrowText(const OLECHAR* text) {
    if (text == nullptr) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::vector<char> bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    return std::string(bytes.data());
}

std::u16string wideText(const std::string& text) {
    const int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (count <= 0) {
        return {};
    }
    std::vector<char16_t> wide(static_cast<std::size_t>(count), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), count);
    return std::u16string(wide.data());
}

}  // namespace orva::platform::com
