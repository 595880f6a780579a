// Loads itself by its own path while attaching: a cycle, which must not attach
// twice and must count the extra reference.

#include "modtest_log.h"
#include "win32/module.h"

ORVA_API_ENTRY BOOL DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        modtestLog("cycle attach");
        char path[4096];
        const DWORD n = GetModuleFileNameA(self, path, sizeof path);
        if (n == 0 || n >= sizeof path) {
            modtestLog("cycle self", "failed");
            return FALSE;
        }
        const HMODULE again = LoadLibraryA(path);
        modtestLog("cycle reload", again == self ? "same" : "other");
        modtestLog("cycle free", FreeLibrary(again) ? "ok" : "failed");
        // The reference of the load in progress is not DllMain's to free.
        modtestLog("cycle free-own", FreeLibrary(self) ? "ok" : "refused");
    } else if (reason == DLL_PROCESS_DETACH) {
        modtestLog("cycle detach");
    }
    return TRUE;
}
