#include "library_loader.h"

#include <limits.h>

#include <new>

#include "bound_function_table.h"
#include "log_api.h"
#include "orva/module_folder.h"
#include "win32/module.h"

namespace orva::api {

namespace {

// Room for the longest module path Linux hands out. Windows' MAX_PATH would
// cut a deep folder short, and a cut path names the wrong folder.
constexpr DWORD kModulePathRoom = PATH_MAX;

// Attach runs outside any export: running out of memory here fails the load
// instead of crossing DllMain.
[[nodiscard]] bool loadAndResolve(HMODULE self, const char* fileName, HMODULE& handle,
                                  bool (*resolve)() noexcept) noexcept {
    try {
        const std::optional<std::string> path = makerLibraryPath(self, fileName);
        if (!path) {
            return false;
        }
        handle = LoadLibraryExA(path->c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!handle) {
            return false;
        }
        return resolve();
    } catch (const std::bad_alloc&) {
        return false;
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

bool loadLogLibrary(HMODULE self) noexcept {
    try {
        const std::optional<std::string> path = makerLibraryPath(self, kScrivelFile);
        if (!path) {
            return false;
        }
        HMODULE& handle = boundFunctions().scrivelModule;
        handle = LoadLibraryA(path->c_str());
        if (!handle) {
            return false;
        }
        bindLogApi(handle);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool loadDravik(HMODULE self) noexcept {
    return loadAndResolve(self, kDravikFile, boundFunctions().dravikModule, resolveDravik);
}

bool loadQZAlgLib(HMODULE self) noexcept {
    return loadAndResolve(self, kQZAlgLibFile, boundFunctions().qzAlgLibModule, resolveQZAlgLib);
}

bool loadPelnor(HMODULE self) noexcept {
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
