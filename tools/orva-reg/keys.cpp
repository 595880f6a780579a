#include <utility>

#include "orva/registry_file.h"
#include "tool.h"
#include "win32/errors.h"

namespace orva::reg_tool {

namespace {

std::string messageOf(LSTATUS status) {
    switch (status) {
        case ERROR_FILE_NOT_FOUND:
            return "the system was unable to find the specified registry key or value";
        case ERROR_ACCESS_DENIED:
            return "access is denied";
        case ERROR_BAD_PATHNAME:
            return "the key name is not valid";
        case ERROR_INVALID_PARAMETER:
            return "the parameter is incorrect";
        case ERROR_KEY_DELETED:
            return "the key was deleted meanwhile";
        case ERROR_REGISTRY_IO_FAILED:
            return "the registry file " + platform::registryFilePath() +
                   " could not be read or written";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "not enough memory";
        default:
            return "error " + std::to_string(status);
    }
}

// Reads a value's data into data, asking for its size first; retries when
// another process changed it in between.
LSTATUS fetchValue(HKEY key, DWORD index, std::string* name, DWORD* type, Bytes* data) {
    std::string nameBuffer(16384, '\0');  // the longest value name and its NUL
    for (;;) {
        DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
        DWORD size = 0;
        LSTATUS status = RegEnumValueA(key, index, nameBuffer.data(), &nameLength, nullptr, type,
                                       nullptr, &size);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        data->assign(size, 0);
        nameLength = static_cast<DWORD>(nameBuffer.size());
        status = RegEnumValueA(key, index, nameBuffer.data(), &nameLength, nullptr, type,
                               data->data(), &size);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status == ERROR_SUCCESS) {
            data->resize(size);
            name->assign(nameBuffer.data(), nameLength);
        }
        return status;
    }
}

}  // namespace

KeyHandle::~KeyHandle() {
    if (key_ != nullptr) {
        RegCloseKey(key_);
    }
}

KeyHandle::KeyHandle(KeyHandle&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}

KeyHandle& KeyHandle::operator=(KeyHandle&& other) noexcept {
    if (this != &other) {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
        key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
}

void check(LSTATUS status) {
    if (status == ERROR_SUCCESS) {
        return;
    }
    if (status == ERROR_REGISTRY_CORRUPT) {
        platform::RegistryTextError error;
        if (platform::checkRegistryFile(&error) == ERROR_REGISTRY_CORRUPT) {
            throw Failure(error.file + ":" + std::to_string(error.line) + ": " + error.reason +
                          " (the registry file is malformed; it was left unchanged)");
        }
        throw Failure("the registry file " + platform::registryFilePath() + " is malformed");
    }
    throw Failure(messageOf(status));
}

KeyHandle openKey(HKEY root, const std::string& subkey, REGSAM access) {
    HKEY key = nullptr;
    check(RegOpenKeyExA(root, subkey.empty() ? nullptr : subkey.c_str(), 0, access, &key));
    return KeyHandle(key);
}

std::vector<ValueItem> readValues(HKEY key) {
    std::vector<ValueItem> values;
    for (DWORD index = 0;; ++index) {
        ValueItem item;
        const LSTATUS status = fetchValue(key, index, &item.name, &item.type, &item.data);
        if (status == ERROR_NO_MORE_ITEMS) {
            return values;
        }
        check(status);
        values.push_back(std::move(item));
    }
}

std::vector<std::string> readSubkeys(HKEY key) {
    std::vector<std::string> names;
    std::string buffer(256, '\0');  // the longest key name and its NUL
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LSTATUS status =
            RegEnumKeyExA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return names;
        }
        check(status);
        names.emplace_back(buffer.data(), length);
    }
}

}  // namespace orva::reg_tool
