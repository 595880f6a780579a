// The control's COM server module: its four exports, its version block, and
// what happens when the platform loads and unloads it.

#include <array>
#include <type_traits>

#include "framework/com_module.h"
#include "framework/com_object.h"
#include "method_support.h"
#include "orva_usbkey.h"
#include "registration.h"
#include "win32/module.h"
#include "win32/version.h"

namespace {

using namespace orva;

constexpr OrvaVersionString kVersionStrings[] = {
    {"FileDescription", "ORVAGM_XRUsbKey Module"},
    {"FileVersion", "1, 0, 0, 0"},
    {"InternalName", "ORVAGM_XRUsbKey"},
    {"OriginalFilename", "ORVAGM_XRUsbKey.dll"},
    {"ProductName", "ORVAGM_XRUsbKey Module"},
    {"ProductVersion", "1, 0, 0, 0"},
    {"OLESelfRegister", ""},
};

}  // namespace

// File and product version 1.0.0.0; language 2052, Unicode strings.
ORVA_VERSION_BLOCK = {
    {VS_FFI_SIGNATURE, VS_FFI_STRUCVERSION, 0x00010000u, 0x00000000u, 0x00010000u, 0x00000000u,
     0x3Fu, 0u, VOS_NT_WINDOWS32, VFT_DLL, 0u, 0u, 0u},
    0x0804,
    1200,
    kVersionStrings,
    static_cast<DWORD>(std::size(kVersionStrings)),
};

// Detach may come during exit, after every exit-time destructor has run (a
// program's global owner freeing the control): what it uses has none.
static_assert(std::is_trivially_destructible_v<orva::com::ComModule>);
static_assert(std::is_trivially_destructible_v<orva::control::ControlState>);

ORVA_API_ENTRY BOOL DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID /*lpvReserved*/) {
    if (fdwReason == DLL_PROCESS_ATTACH) {
        com::comModule().init(hinstDLL, control::LIBID_ORVA_USBKEY_CTRLLib);
    } else if (fdwReason == DLL_PROCESS_DETACH) {
        com::comModule().term();
        control::ControlState& state = control::controlState();
        if (state.binding.bound()) {
            state.binding.unloadApiLibrary();
        }
    }
    return TRUE;
}

ORVA_API_ENTRY HRESULT DllCanUnloadNow(void) {
    return com::comModule().lockCount() == 0 ? S_OK : S_FALSE;
}

ORVA_API_ENTRY HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return com::classObject<control::OrvaUsbKey>(rclsid, control::CLSID_orva_usbkey, riid, ppv);
}

namespace {

// The module's own path; empty when it was not loaded through LoadLibrary.
std::array<char, MAX_PATH> modulePath() {
    std::array<char, MAX_PATH> path{};
    const HMODULE self = com::comModule().instance();
    const DWORD length = self != nullptr ? GetModuleFileNameA(self, path.data(), MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH) {
        path.fill('\0');
    }
    return path;
}

}  // namespace

ORVA_API_ENTRY HRESULT DllRegisterServer(void) {
    const std::array<char, MAX_PATH> path = modulePath();
    if (path[0] == '\0') {
        return E_UNEXPECTED;
    }
    return control::registerServer(path.data());
}

ORVA_API_ENTRY HRESULT DllUnregisterServer(void) {
    return control::unregisterServer();
}
