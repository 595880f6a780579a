// A link-time dependency of modtest_dep. Its DllMain and export belong to it
// alone: neither may be taken for modtest_dep's.

#include "modtest_log.h"
#include "win32/module.h"

ORVA_API_ENTRY BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
    modtestLog("base dllmain", reason == DLL_PROCESS_ATTACH ? "attach" : "other");
    return TRUE;
}

ORVA_API_ENTRY int modtest_base_value(void) {
    return 7;
}
