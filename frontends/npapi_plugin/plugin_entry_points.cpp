// The three exports through which a browser starts and stops the plug-in.

#include <cstdio>
#include <exception>

#include "browser_functions.h"
#include "log_library.h"
#include "orva/export.h"
#include "plugin_callbacks.h"

using namespace orva::npapi_plugin;

ORVA_API_ENTRY NPError NP_GetEntryPoints(NPPluginFuncs* pFuncs) {
    // The table must reach its last slot, setvalue.
    if (pFuncs == nullptr || pFuncs->size < sizeof(NPPluginFuncs)) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    fillPluginFunctions(*pFuncs);
    return NPERR_NO_ERROR;
}

ORVA_API_ENTRY NPError NP_Initialize(NPNetscapeFuncs* bFuncs) {
    std::fputs("NP_Initialize() called\n", stdout);
    // The logging library is optional: its outcome is only reported.
    if (LoadLogLibrary(nullptr, kLogLibraryFolder) == 1) {
        std::fputs("NPAPI LoadLib_Log successed\n", stdout);
    } else {
        std::fputs("NPAPI LoadLib_Log failed\n", stdout);
    }
    if (bFuncs == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    if ((bFuncs->version >> 8) > NP_VERSION_MAJOR) {
        return NPERR_INCOMPATIBLE_VERSION_ERROR;
    }
    return copyBrowserFunctions(*bFuncs);
}

ORVA_API_ENTRY NPError NP_Shutdown(void) {
    return NPERR_NO_ERROR;
}
