#include "library_lifecycle.h"

#include "bound_function_table.h"
#include "file_token_state.h"
#include "library_loader.h"
#include "process_state.h"
#include "win32/module.h"

namespace orva::api {

BOOL processAttach(HMODULE self) noexcept {
    // The state first, so that no export has to allocate it.
    if (!makeProcessState() || !makeFileTokenState()) {
        processDetach();
        return FALSE;
    }
    // Logging is optional: its result does not matter.
    static_cast<void>(loadLogLibrary(self));
    // A library after a failed one is not loaded. The detach steps run here,
    // so nothing stays loaded whoever loaded us; the platform layer's own
    // detach call after a refused attach then finds nothing left to free.
    if (!loadDravik(self) || !loadQZAlgLib(self) || !loadPelnor(self)) {
        processDetach();
        return FALSE;
    }
    return TRUE;
}

BOOL processDetach() noexcept {
    freeDravik();
    freeQZAlgLib();
    freePelnor();
    freeLogLibrary();
    endProcessState();
    endFileTokenState();
    // The entries point into libraries just freed; a later attach starts clean.
    clearBoundEntries();
    return TRUE;
}

}  // namespace orva::api

// The platform layer calls this on the first load and the last unload, and
// fails the load when attach answers FALSE.
extern "C" ORVA_EXPORT BOOL DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID /*lpvReserved*/) {
    switch (fdwReason) {
        case DLL_PROCESS_ATTACH:
            return orva::api::processAttach(hinstDLL);
        case DLL_PROCESS_DETACH:
            return orva::api::processDetach();
        default:
            return TRUE;
    }
}
