#pragma once

// The plug-in's copy of the browser's function table, and the six gates
// through which it calls the browser.

#include "npapi/npapi.h"

namespace orva::npapi_plugin {

// Checks and copies the browser's table (getJavaEnv and getJavaPeer stored
// null). NPERR_INVALID_FUNCTABLE_ERROR, and nothing copied, for a table that
// ends before setexception or lacks one of the functions the gates call.
NPError copyBrowserFunctions(const NPNetscapeFuncs& browser) noexcept;

void* NPN_MemAlloc(uint32_t size) noexcept;
void NPN_MemFree(void* memory) noexcept;
NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name) noexcept;
NPObject* NPN_CreateObject(NPP npp, NPClass* objectClass) noexcept;
NPObject* NPN_RetainObject(NPObject* object) noexcept;
void NPN_ReleaseObject(NPObject* object) noexcept;

}  // namespace orva::npapi_plugin
