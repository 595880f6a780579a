// Locating, loading and binding the token API library.

#include "api_binding.h"

#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <type_traits>

#include "orva/module_folder.h"
#include "orva/registry_key.h"
#include "win32/errors.h"

namespace orva::frontend {

namespace {

// Appends text to the NUL-terminated text in buffer; false, and the buffer as
// it was, when the result and its NUL would not fit.
bool appendBounded(char* buffer, std::size_t size, std::string_view text) noexcept {
    const std::size_t used = strnlen(buffer, size);
    if (used >= size || text.size() >= size - used) {
        return false;
    }
    std::memcpy(buffer + used, text.data(), text.size());
    buffer[used + text.size()] = '\0';
    return true;
}

// Cuts the text after its last '/', the folder separator here. No Linux code
// page has '/' as the trail byte of a multibyte character, so a byte search
// is exact where Windows needed a multibyte-aware one for '\'.
bool cutAfterLastSeparator(char* text) noexcept {
    char* separator = std::strrchr(text, '/');
    if (separator == nullptr) {
        return false;
    }
    separator[1] = '\0';
    return true;
}

}  // namespace

int locateApiFolder(char* buffer, std::size_t size, REGSAM view) noexcept {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    // The key path, in a path buffer of its own.
    std::array<char, kPathRoom> keyPath{};
    if (!appendBounded(keyPath.data(), keyPath.size(), kProviderKeyParent) ||
        !appendBounded(keyPath.data(), keyPath.size(), kProviderName)) {
        return 0;
    }
    // Open it; it closes on every path below.
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.data(), 0, KEY_READ | view, &opened) !=
        ERROR_SUCCESS) {
        return 0;
    }
    const RegistryKey key(opened);
    // The value's bytes, whatever its type, taken as text.
    DWORD dataSize =
        static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
    const LSTATUS status = RegQueryValueExA(key.get(), kImagePathValue, nullptr, nullptr,
                                            reinterpret_cast<LPBYTE>(buffer), &dataSize);
    if (status == ERROR_MORE_DATA) {
        // Longer than the buffer: a cut path would name another folder.
        return 0;
    }
    if (status != ERROR_SUCCESS) {
        // Not readable: the empty folder, so the bare name is loaded.
        buffer[0] = '\0';
        return 1;
    }
    // Terminate within the buffer; a value that fills it leaves no room.
    if (dataSize == 0 || buffer[dataSize - 1] != '\0') {
        if (dataSize >= size) {
            return 0;
        }
        buffer[dataSize] = '\0';
    }
    return cutAfterLastSeparator(buffer) ? 1 : 0;
}

int ApiBinding::loadApiLibrary(HMODULE module, const char* folder) noexcept {
    std::array<char, kPathRoom> path{};
    if (folder != nullptr) {
        if (!appendBounded(path.data(), path.size(), folder) ||
            !appendBounded(path.data(), path.size(), kApiLibraryName)) {
            return 0;
        }
    } else if (module != nullptr) {
        // A module path that is unknown (or would be cut) leaves the bare name.
        const ModuleFolder beside = moduleFolder(module, static_cast<DWORD>(path.size()));
        if (beside.outcome == ModuleFolder::Outcome::noFolder) {
            return 0;
        }
        if (beside.outcome == ModuleFolder::Outcome::found &&
            (!appendBounded(path.data(), path.size(), beside.folder) ||
             !appendBounded(path.data(), path.size(), kApiLibraryName))) {
            return 0;
        }
    }
    library_ = LoadLibraryExA(path[0] != '\0' ? path.data() : kApiLibraryName, nullptr,
                              LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library_ == nullptr) {
        return 0;
    }
    return bindApiFunctions();
}

int ApiBinding::bindApiFunctions() noexcept {
    if (library_ == nullptr) {
        return 0;
    }
#define ORVA_BIND_API_FUNCTION(name)                                                       \
    table_.name =                                                                          \
        reinterpret_cast<decltype(table_.name)>(GetProcAddress(library_, "QZAPI_" #name)); \
    if (table_.name == nullptr) {                                                          \
        return 0;                                                                          \
    }
    ORVA_API_FUNCTION_LIST(ORVA_BIND_API_FUNCTION)
#undef ORVA_BIND_API_FUNCTION
    return 1;
}

void ApiBinding::unloadApiLibrary() noexcept {
    if (library_ != nullptr) {
        FreeLibrary(library_);
        library_ = nullptr;
    }
}

bool ApiBinding::ensureApiLoaded() noexcept {
    if (bound_ != 0) {
        return true;
    }
    std::array<char, kPathRoom> folder{};
    if (locateApiFolder(folder.data(), folder.size(), registryView_) == 1 &&
        loadApiLibrary(nullptr, folder.data()) == 1) {
        bound_ = 1;
        return true;
    }
    return false;
}

}  // namespace orva::frontend
