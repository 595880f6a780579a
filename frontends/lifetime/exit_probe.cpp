// exit_probe FRONT_END EXIT TEXT_BYTES: sets a warning text of TEXT_BYTES
// bytes through one front end ("api" for the token API library itself,
// "plugin", "control") and ends the process with the module still loaded
// (EXIT "kept"), as a browser that never unloads its plug-ins does, or with
// the module freed by a destructor that runs during exit ("freed"), as a
// program's global owner frees it. Exit status 0 when the text was set; what
// exit then does wrong, the sanitizers or the C library report.

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "plugin_session.h"
#include "usbkey_interface.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;

// Registered before any module is loaded, so it runs after everything the
// modules registered for exit.
struct ExitOwner {
    HMODULE module = nullptr;  // through LoadLibrary
    void* plugin = nullptr;    // through dlopen, as the stand-in browser loads plug-ins
    ~ExitOwner() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
        if (plugin != nullptr) {
            dlclose(plugin);
        }
    }
} exitOwner;

fs::path binFolder() {
    char path[4096] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return fs::path(std::string(path, n)).parent_path();
}

void require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::runtime_error(what);
    }
}

HMODULE load(const fs::path& file) {
    HMODULE module = LoadLibraryA(file.c_str());
    require(module != nullptr, file.string() + ": " + orva_platform_last_load_error());
    return module;
}

void throughApi(const std::string& text, bool freed) {
    HMODULE api = load(binFolder() / "ORVA_API.so");
    using SetWarningTips = int (*)(const char*);
    const auto set = reinterpret_cast<SetWarningTips>(GetProcAddress(api, "QZAPI_SetWarningTips"));
    require(set != nullptr && set(text.c_str()) == 0, "QZAPI_SetWarningTips");
    if (freed) {
        exitOwner.module = api;
    }
}

void throughPlugin(const std::string& text, bool freed) {
    using namespace orva::npapi_host;
    const std::string file = (binFolder() / "nporva_firefox_XR.so").string();
    // The browser's own reference: the session gives back only its own.
    void* kept = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    require(kept != nullptr, file);
    {
        StandInBrowser browser;
        // Instance made and destroyed, NP_Shutdown called.
        PluginSession session(browser, file);
        const CallResult result = session.invoke("SetWarningMsg", {ScriptValue(text)});
        require(result.invoked && printable(result.value) == "0", "SetWarningMsg");
    }
    if (freed) {
        exitOwner.plugin = kept;
    }
}

void throughControl(const std::string& text, bool freed) {
    using namespace orva::control;
    HMODULE control = load(binFolder() / "ORVAGM_XRUsbKey.so");
    const auto getClassObject =
        reinterpret_cast<DllGetClassObjectProc>(GetProcAddress(control, "DllGetClassObject"));
    require(getClassObject != nullptr, "DllGetClassObject");
    IClassFactory* factory = nullptr;
    require(SUCCEEDED(getClassObject(CLSID_orva_usbkey, IID_IClassFactory,
                                     reinterpret_cast<void**>(&factory))),
            "class object");
    Iorva_usbkey* object = nullptr;
    const HRESULT made =
        factory->CreateInstance(nullptr, IID_Iorva_usbkey, reinterpret_cast<void**>(&object));
    factory->Release();
    require(SUCCEEDED(made), "CreateInstance");
    const std::u16string wide(text.begin(), text.end());  // ASCII
    BSTR tips = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    INT code = -1;
    const HRESULT called = object->SetWarningMsg(tips, &code);
    SysFreeString(tips);
    object->Release();
    require(called == S_OK && code == 0, "SetWarningMsg");
    if (freed) {
        exitOwner.module = control;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: exit_probe api|plugin|control kept|freed TEXT_BYTES\n", stderr);
        return 2;
    }
    const std::string_view frontEnd = argv[1];
    const bool freed = std::string_view(argv[2]) == "freed";
    const std::string text(std::strtoul(argv[3], nullptr, 10), 'a');
    try {
        if (frontEnd == "api") {
            throughApi(text, freed);
        } else if (frontEnd == "plugin") {
            throughPlugin(text, freed);
        } else if (frontEnd == "control") {
            throughControl(text, freed);
        } else {
            return 2;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "exit_probe: %s\n", error.what());
        return 1;
    }
    return 0;
}
