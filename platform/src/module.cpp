// Module loading over dlopen, with Windows' reference counts and DllMain calls.
//
// One process-wide table of the modules loaded through LoadLibrary, keyed by
// the dlopen handle, under one recursive mutex. The mutex plays the loader
// lock: DllMain runs while it is held, so the calls a DllMain makes back into
// this file on the same thread go through, and another thread's loads wait.

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "orva/c_owners.h"
#include "win32/errors.h"
#include "win32/module.h"

namespace orva::platform {

using orva::DlHandle;

enum class ModuleState {
    attaching,  // DllMain(DLL_PROCESS_ATTACH) is running
    loaded,
    detaching,  // DllMain(DLL_PROCESS_DETACH) is running; no references are left
};

}  // namespace orva::platform

// A module loaded through LoadLibrary; an HMODULE points at one. A pointer a
// caller hands in is dereferenced only once the table says it is live.
struct OrvaModule {
    orva::platform::DlHandle dl;  // the record's own dlopen reference
    std::string path;             // absolute
    DllMainProc dllMain = nullptr;
    std::size_t refs = 0;
    orva::platform::ModuleState state = orva::platform::ModuleState::loaded;
};

namespace orva::platform {
namespace {

struct ModuleTable {
    std::recursive_mutex mutex;
    std::vector<std::unique_ptr<OrvaModule>> modules;  // in load order
    // GetModuleHandleA(NULL). Its dl is dlopen(NULL), opened on first use.
    OrvaModule executable;
};

// Never destroyed: modules may still call in from their exit-time destructors.
ModuleTable& table() {
    static auto* const instance = new ModuleTable;
    return *instance;
}

// Why this thread's latest load failed, for diagnostics. Plain characters
// without a destructor: exit destroys the thread's own objects before it runs
// the handlers that may still load and free modules.
class LoadFailure {
  public:
    void clear() noexcept { text_[0] = '\0'; }
    void set(std::string_view reason) noexcept {
        const std::size_t length = std::min(reason.size(), text_.size() - 1);  // cut, if need be
        std::memcpy(text_.data(), reason.data(), length);
        text_[length] = '\0';
    }
    const char* c_str() const noexcept { return text_.data(); }

  private:
    std::array<char, 1024> text_{};
};
thread_local LoadFailure lastLoadError;

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Our modules are built as "name.so"; product code asks for "name.dll".
std::string mapDllName(std::string_view name) {
    constexpr std::string_view kDll = ".dll";
    if (name.size() >= kDll.size() &&
        equalsIgnoreCase(name.substr(name.size() - kDll.size()), kDll)) {
        std::string mapped(name.substr(0, name.size() - kDll.size()));
        mapped += ".so";
        return mapped;
    }
    return std::string(name);
}

std::string_view baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Absolute and lexically normal; symbolic links are kept as named, as Windows
// reports a module under the name it was loaded by.
std::string absolutePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) {
        return path;
    }
    return full.lexically_normal().string();
}

// Empty when /proc/self/exe cannot be read.
std::string executablePath() {
    constexpr std::size_t kMaxPath = std::size_t{1} << 16;
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        }
        if (buffer.size() >= kMaxPath) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

// A bare name is looked for in the executable's folder first, then by
// dlopen's own rules (which never look in the current folder).
DlHandle openModule(const std::string& file) {
    std::string target = file;
    if (file.find('/') == std::string::npos) {
        const std::string exe = executablePath();
        const auto slash = exe.rfind('/');
        if (slash != std::string::npos) {
            std::string candidate = exe.substr(0, slash + 1) + file;
            struct stat info {};
            if (stat(candidate.c_str(), &info) == 0) {
                target = std::move(candidate);
            }
        }
    }
    dlerror();
    DlHandle dl(dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!dl) {
        const char* reason = dlerror();
        lastLoadError.set(reason ? std::string(reason) : target + ": cannot be loaded");
    }
    return dl;
}

std::string loadedPath(void* dl) {
    link_map* map = nullptr;
    if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name) {
        return {};
    }
    return absolutePath(map->l_name);
}

// dlsym on a handle also searches the module's dependencies; Windows finds
// only the module's own exports, so a symbol defined elsewhere is not found.
void* ownSymbol(void* dl, const char* name) {
    dlerror();
    void* symbol = dlsym(dl, name);
    if (!symbol) {
        return nullptr;
    }
    link_map* own = nullptr;
    if (dlinfo(dl, RTLD_DI_LINKMAP, &own) != 0 || !own) {
        return nullptr;
    }
    Dl_info info{};
    link_map* definer = nullptr;
    if (dladdr1(symbol, &info, reinterpret_cast<void**>(&definer), RTLD_DL_LINKMAP) == 0) {
        return nullptr;
    }
    return definer == own ? symbol : nullptr;
}

OrvaModule* findLive(ModuleTable& t, HMODULE handle) {
    // Compares addresses only: an unknown handle is never dereferenced.
    for (const auto& module : t.modules) {
        if (module.get() == handle) {
            return module.get();
        }
    }
    return nullptr;
}

OrvaModule* findByDl(ModuleTable& t, void* dl) {
    for (const auto& module : t.modules) {
        if (module->dl.get() == dl) {
            return module.get();
        }
    }
    return nullptr;
}

// Drops the record and hands back its dlopen reference, to be closed once the
// table's lock is released.
DlHandle removeRecord(ModuleTable& t, OrvaModule* module) {
    const auto it = std::find_if(t.modules.begin(), t.modules.end(),
                                 [&](const auto& m) { return m.get() == module; });
    DlHandle dl = std::move((*it)->dl);
    t.modules.erase(it);
    return dl;
}

// A DllMain that throws has failed.
bool callDllMain(OrvaModule* module, DWORD reason) {
    try {
        return module->dllMain(module, reason, nullptr) != FALSE;
    } catch (...) {
        return false;
    }
}

struct LoadResult {
    HMODULE module = nullptr;
    DWORD error = ERROR_SUCCESS;
};

LoadResult loadModule(const char* name) {
    lastLoadError.clear();
    DlHandle dl = openModule(mapDllName(name));
    if (!dl) {
        return {nullptr, ERROR_MOD_NOT_FOUND};
    }
    ModuleTable& t = table();
    DlHandle closing;  // closed after the lock is released
    {
        std::lock_guard lock(t.mutex);
        if (OrvaModule* module = findByDl(t, dl.get())) {
            // Loaded already (or its attach is in progress: a cycle). The
            // record's own dlopen reference keeps it mapped, so ours goes.
            closing = std::move(dl);
            if (module->state == ModuleState::detaching) {
                lastLoadError.set(module->path + ": being unloaded");
                return {nullptr, ERROR_DLL_INIT_FAILED};
            }
            ++module->refs;
            return {module, ERROR_SUCCESS};
        }

        auto record = std::make_unique<OrvaModule>();
        record->path = loadedPath(dl.get());
        if (record->path.empty()) {
            record->path = absolutePath(mapDllName(name));
        }
        record->dllMain = reinterpret_cast<DllMainProc>(ownSymbol(dl.get(), "DllMain"));
        record->refs = 1;
        record->state = record->dllMain ? ModuleState::attaching : ModuleState::loaded;
        record->dl = std::move(dl);
        OrvaModule* module = record.get();
        t.modules.push_back(std::move(record));
        if (!module->dllMain) {
            return {module, ERROR_SUCCESS};
        }

        if (callDllMain(module, DLL_PROCESS_ATTACH)) {
            module->state = ModuleState::loaded;
            return {module, ERROR_SUCCESS};
        }
        // Refused: Windows tells the module to detach and unloads it. Handles
        // a DllMain gave out for itself meanwhile die with it.
        module->state = ModuleState::detaching;
        callDllMain(module, DLL_PROCESS_DETACH);
        lastLoadError.set(module->path + ": DllMain refused to attach");
        closing = removeRecord(t, module);
    }
    closing.reset();
    return {nullptr, ERROR_DLL_INIT_FAILED};
}

DWORD freeModule(HMODULE handle) {
    ModuleTable& t = table();
    DlHandle closing;
    {
        std::lock_guard lock(t.mutex);
        if (handle == &t.executable) {
            return ERROR_SUCCESS;
        }
        OrvaModule* module = findLive(t, handle);
        // A DllMain may not free the reference its own load in progress holds,
        // nor free itself while it is detaching.
        if (!module || module->state == ModuleState::detaching ||
            (module->state == ModuleState::attaching && module->refs <= 1)) {
            return ERROR_INVALID_HANDLE;
        }
        if (--module->refs > 0) {
            return ERROR_SUCCESS;
        }
        module->state = ModuleState::detaching;
        if (module->dllMain) {
            callDllMain(module, DLL_PROCESS_DETACH);
        }
        closing = removeRecord(t, module);
    }
    // dlclose runs the module's destructors, which may call back in.
    closing.reset();
    return ERROR_SUCCESS;
}

FARPROC procAddress(HMODULE handle, const char* name) {
    ModuleTable& t = table();
    std::lock_guard lock(t.mutex);
    void* symbol = nullptr;
    if (!handle || handle == &t.executable) {
        // The executable's handle searches the global scope: the program and
        // everything loaded with it, not only the program's own exports.
        if (!t.executable.dl) {
            t.executable.dl.reset(dlopen(nullptr, RTLD_NOW));
        }
        if (t.executable.dl) {
            dlerror();
            symbol = dlsym(t.executable.dl.get(), name);
        }
    } else {
        OrvaModule* module = findLive(t, handle);
        if (!module) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        symbol = ownSymbol(module->dl.get(), name);
    }
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

// GetModuleFileNameA's own rule: on truncation it copies n-1 characters and
// the NUL, returns n and reports ERROR_INSUFFICIENT_BUFFER.
DWORD copyModulePath(const std::string& path, LPSTR buffer, DWORD size) {
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::memcpy(buffer, path.data(), path.size());
        buffer[path.size()] = '\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

DWORD moduleFileName(HMODULE handle, LPSTR buffer, DWORD size) {
    if (!buffer && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ModuleTable& t = table();
    std::string path;
    if (!handle || handle == &t.executable) {
        path = executablePath();
        if (path.empty()) {
            SetLastError(ERROR_GEN_FAILURE);
            return 0;
        }
    } else {
        std::lock_guard lock(t.mutex);
        OrvaModule* module = findLive(t, handle);
        if (!module) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = module->path;
    }
    return copyModulePath(path, buffer, size);
}

HMODULE moduleHandle(const char* name) {
    ModuleTable& t = table();
    if (!name) {
        return &t.executable;
    }
    const std::string file = mapDllName(name);
    const std::string exe = executablePath();
    std::lock_guard lock(t.mutex);
    if (file.find('/') != std::string::npos) {
        const std::string full = absolutePath(file);
        for (const auto& module : t.modules) {
            if (module->path == full) {
                return module.get();
            }
        }
        if (!exe.empty() && full == exe) {
            return &t.executable;
        }
    } else if (!file.empty()) {
        for (const auto& module : t.modules) {
            if (equalsIgnoreCase(baseName(module->path), file)) {
                return module.get();
            }
        }
        if (!exe.empty() && equalsIgnoreCase(baseName(exe), file)) {
            return &t.executable;
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

void setErrorFromException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastError(ERROR_GEN_FAILURE);
    }
}

}  // namespace
}  // namespace orva::platform

using namespace orva::platform;

extern "C" HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    return LoadLibraryExA(lpLibFileName, nullptr, 0);
}

extern "C" HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    try {
        if (!lpLibFileName || !*lpLibFileName || hFile ||
            (dwFlags & ~DWORD{LOAD_WITH_ALTERED_SEARCH_PATH}) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        const LoadResult result = loadModule(lpLibFileName);
        if (!result.module) {
            SetLastError(result.error);
        }
        return result.module;
    } catch (...) {
        setErrorFromException();
        return nullptr;
    }
}

extern "C" BOOL FreeLibrary(HMODULE hLibModule) {
    try {
        const DWORD error = freeModule(hLibModule);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return FALSE;
        }
        return TRUE;
    } catch (...) {
        setErrorFromException();
        return FALSE;
    }
}

extern "C" FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    try {
        if (!lpProcName) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        // A value below 0x10000 is an ordinal on Windows; we export by name only.
        if (reinterpret_cast<std::uintptr_t>(lpProcName) < 0x10000) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return procAddress(hModule, lpProcName);
    } catch (...) {
        setErrorFromException();
        return nullptr;
    }
}

extern "C" DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    try {
        return moduleFileName(hModule, lpFilename, nSize);
    } catch (...) {
        setErrorFromException();
        return 0;
    }
}

extern "C" HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
    try {
        return moduleHandle(lpModuleName);
    } catch (...) {
        setErrorFromException();
        return nullptr;
    }
}

extern "C" const char* orva_platform_last_load_error(void) {
    return lastLoadError.c_str();
}
