// Records its attach and detach, and the path it finds for itself while attaching.

#include "modtest_log.h"
#include "win32/errors.h"
#include "win32/module.h"

ORVA_API_ENTRY BOOL DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    if (reserved) {
        modtestLog("events reserved-not-null");
    }
    if (reason == DLL_PROCESS_ATTACH) {
        modtestLog("events attach");
        char path[4096];
        const DWORD n = GetModuleFileNameA(self, path, sizeof path);
        modtestLog("events self", n > 0 && n < sizeof path ? path : "failed");
    } else if (reason == DLL_PROCESS_DETACH) {
        modtestLog("events detach");
    }
    return TRUE;
}

ORVA_API_ENTRY int modtest_events_value(void) {
    return 1;
}
