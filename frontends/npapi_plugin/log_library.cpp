// Loading the logging library.

#include "log_library.h"

#include <array>
#include <cstring>
#include <string_view>

#include "orva/module_folder.h"

namespace orva::npapi_plugin {

namespace {

constexpr std::string_view kLogLibraryName = "Scrivel.dll";

void doNothing() {}

struct LogLibrary {
    HMODULE module = nullptr;
    FARPROC logW = doNothing;
    FARPROC logA = doNothing;
};
LogLibrary logLibrary;

// folder + name into path; false when it would not fit with its NUL.
bool joinPath(std::array<char, MAX_PATH>& path, std::string_view folder) noexcept {
    if (folder.size() + kLogLibraryName.size() >= path.size()) {
        return false;
    }
    std::memcpy(path.data(), folder.data(), folder.size());
    std::memcpy(path.data() + folder.size(), kLogLibraryName.data(), kLogLibraryName.size());
    return true;
}

}  // namespace

int LoadLogLibrary(HMODULE module, const char* folder) noexcept {
    std::array<char, MAX_PATH> path{};
    if (folder != nullptr) {
        if (!joinPath(path, folder)) {
            return 0;
        }
    } else if (module != nullptr) {
        try {
            const ModuleFolder beside = moduleFolder(module, MAX_PATH);
            if (beside.outcome != ModuleFolder::Outcome::found || !joinPath(path, beside.folder)) {
                return 0;
            }
        } catch (...) {
            return 0;
        }
    } else {
        joinPath(path, "");
    }
    logLibrary.module = LoadLibraryA(path.data());
    if (logLibrary.module == nullptr) {
        return 0;
    }
    FARPROC logW = GetProcAddress(logLibrary.module, "LogW");
    FARPROC logA = GetProcAddress(logLibrary.module, "LogA");
    logLibrary.logW = logW != nullptr ? logW : doNothing;
    logLibrary.logA = logA != nullptr ? logA : doNothing;
    return 1;
}

}  // namespace orva::npapi_plugin
