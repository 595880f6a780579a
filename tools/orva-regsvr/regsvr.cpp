// Loading a server module and calling its registration entry.

#include "regsvr.h"

#include <cstdio>
#include <memory>

#include "win32/com.h"
#include "win32/module.h"

namespace orva::tools {

namespace {

constexpr const char* kUsage = "usage: orva-regsvr [-u] MODULE";

struct ModuleFree {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

RegsvrOutcome runRegsvr(const std::vector<std::string>& args) {
    bool unregister = false;
    std::string module;
    for (const std::string& arg : args) {
        if (arg == "-u" && !unregister) {
            unregister = true;
        } else if (!arg.empty() && arg[0] != '-' && module.empty()) {
            module = arg;
        } else {
            return {2, kUsage};
        }
    }
    if (module.empty()) {
        return {2, kUsage};
    }
    const std::unique_ptr<OrvaModule, ModuleFree> loaded(LoadLibraryA(module.c_str()));
    if (!loaded) {
        return {3, "cannot load " + module + ": " + orva_platform_last_load_error()};
    }
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const auto entry =
        reinterpret_cast<DllRegisterServerProc>(GetProcAddress(loaded.get(), entryName));
    if (entry == nullptr) {
        return {3, module + " has no " + entryName};
    }
    const HRESULT hr = entry();
    if (FAILED(hr)) {
        return {1, std::string(entryName) + " in " + module + " failed: " + hex(hr)};
    }
    return {0, std::string(entryName) + " in " + module + " succeeded."};
}

}  // namespace orva::tools
