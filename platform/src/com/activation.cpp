// Activation: a class's server module comes from the registry
// (HKCR\CLSID\{...}\InprocServer32), is loaded through LoadLibrary once and
// kept for the life of the process; the categories manager is built in.

#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "categories_manager.h"
#include "class_registry.h"
#include "com_guard.h"
#include "orva/com_ptr.h"
#include "orva/com_registration.h"
#include "win32/module.h"

namespace {

using namespace orva::platform;

// The server modules loaded so far, by path.
std::mutex& serversMutex() {
    static std::mutex mutex;
    return mutex;
}
std::map<std::string, HMODULE>& servers() {
    static auto* const loaded = new std::map<std::string, HMODULE>;
    return *loaded;
}

HRESULT serverModule(const std::string& path, HMODULE* module) {
    const std::lock_guard lock(serversMutex());
    auto found = servers().find(path);
    if (found == servers().end()) {
        HMODULE loaded = LoadLibraryA(path.c_str());
        if (loaded == nullptr) {
            return CO_E_DLLNOTFOUND;
        }
        found = servers().emplace(path, loaded).first;
    }
    *module = found->second;
    return S_OK;
}

HRESULT classObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    const std::optional<std::string> path =
        com::readClassString("CLSID\\" + guidText(rclsid) + "\\InprocServer32", nullptr);
    if (!path || path->empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    HMODULE module = nullptr;
    const HRESULT hr = serverModule(*path, &module);
    if (FAILED(hr)) {
        return hr;
    }
    const auto entry =
        reinterpret_cast<DllGetClassObjectProc>(GetProcAddress(module, "DllGetClassObject"));
    if (entry == nullptr) {
        return CO_E_ERRORINDLL;
    }
    return entry(rclsid, riid, ppv);
}

}  // namespace

ORVA_API_ENTRY HRESULT CoInitialize(LPVOID /*pvReserved*/) {
    return S_OK;
}

ORVA_API_ENTRY void CoUninitialize(void) {}

ORVA_API_ENTRY HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID /*pvReserved*/,
                                        REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    return com::guardedCall([&] { return classObject(rclsid, riid, ppv); });
}

ORVA_API_ENTRY HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                        REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (rclsid == CLSID_StdComponentCategoriesMgr) {
        return com::createCategoriesManager(pUnkOuter, riid, ppv);
    }
    orva::ComPtr<IClassFactory> factory;
    const HRESULT hr =
        CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr)) {
        return hr;
    }
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}

ORVA_API_ENTRY HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
    if (lpszProgID == nullptr || lpclsid == nullptr) {
        return E_INVALIDARG;
    }
    return com::guardedCall([&] {
        const std::string progId = com::narrowText(lpszProgID);
        if (progId.empty()) {
            return CO_E_CLASSSTRING;
        }
        const std::optional<std::string> text = com::readClassString(progId + "\\CLSID", nullptr);
        const std::optional<GUID> clsid = text ? guidFromText(*text) : std::nullopt;
        if (!clsid) {
            return CO_E_CLASSSTRING;
        }
        *lpclsid = *clsid;
        return S_OK;
    });
}
