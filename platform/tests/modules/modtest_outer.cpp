// Loads modtest_events from its DllMain and frees it when it detaches.

#include "modtest_log.h"
#include "win32/module.h"

namespace {
HMODULE inner = nullptr;
}

ORVA_API_ENTRY BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        modtestLog("outer attach");
        inner = LoadLibraryA("modtest_events.dll");
        modtestLog("outer loaded", inner ? "ok" : "failed");
        return inner ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        modtestLog("outer detach");
        const BOOL freed = FreeLibrary(inner);
        modtestLog("outer freed", freed ? "ok" : "failed");
    }
    return TRUE;
}
