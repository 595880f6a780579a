#include "library_loader.h"

#include <limits.h>

#include "bound_function_table.h"
#include "log_api.h"
#include "orva/module_folder.h"
#include "win32/module.h"

namespace orva::api {

namespace {

// Room for the longest module path Linux hands out. Windows' MAX_PATH would
// cut a deep folder short, and a cut path names the wrong folder.
constexpr DWORD kModulePathRoom = PATH_MAX;

int loadAndResolve(HMODULE self, const char* fileName, HMODULE& handle,
                   int (*resolve)() noexcept) noexcept {
    try {
        const std::optional<std::string> path = makerLibraryPath(self, fileName);
        if (!path) {
            return 0;
        }
        handle = LoadLibraryExA(path->c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!handle) {
            return 0;
        }
        return resolve();
    } catch (...) {
        return 0;
    }
}

void freeModule(HMODULE& handle) noexcept {
    if (handle) {
        FreeLibrary(handle);
        handle = nullptr;
    }
}

}  // namespace

std::optional<std::string> makerLibraryPath(HMODULE self, std::string_view fileName) {
    if (!self) {
        return std::string(fileName);
    }
    const ModuleFolder folder = moduleFolder(self, kModulePathRoom);
    switch (folder.outcome) {
        case ModuleFolder::Outcome::found:
            return folder.folder + std::string(fileName);
        case ModuleFolder::Outcome::unknown:
            return std::string(fileName);
        case ModuleFolder::Outcome::tooLong:
        case ModuleFolder::Outcome::noFolder:
            break;
    }
    return std::nullopt;
}

int loadLogLibrary(HMODULE self) noexcept {
    try {
        const std::optional<std::string> path = makerLibraryPath(self, kScrivelFile);
        if (!path) {
            return 0;
        }
        HMODULE& handle = boundFunctions().scrivelModule;
        handle = LoadLibraryA(path->c_str());
        if (!handle) {
            return 0;
        }
        bindLogApi(handle);
        return 1;
    } catch (...) {
        return 0;
    }
}

int loadDravik(HMODULE self) noexcept {
    return loadAndResolve(self, kDravikFile, boundFunctions().dravikModule, resolveDravik);
}

int loadQZAlgLib(HMODULE self) noexcept {
    return loadAndResolve(self, kQZAlgLibFile, boundFunctions().qzAlgLibModule, resolveQZAlgLib);
}

int loadPelnor(HMODULE self) noexcept {
    return loadAndResolve(self, kPelnorFile, boundFunctions().pelnorModule, resolvePelnor);
}

void freeDravik() noexcept {
    freeModule(boundFunctions().dravikModule);
}

void freeQZAlgLib() noexcept {
    freeModule(boundFunctions().qzAlgLibModule);
}

void freePelnor() noexcept {
    freeModule(boundFunctions().pelnorModule);
}

void freeLogLibrary() noexcept {
    freeModule(boundFunctions().scrivelModule);
    // Scrivel's entry points are gone with it.
    resetLogApi();
}

}  // namespace orva::api
