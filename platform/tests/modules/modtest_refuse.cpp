// Refuses to attach.

#include "modtest_log.h"
#include "win32/module.h"

ORVA_API_ENTRY BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        modtestLog("refuse attach");
        return FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        modtestLog("refuse detach");
    }
    return TRUE;
}
