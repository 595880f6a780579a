// The browser table copy and its gates.

#include "browser_functions.h"

#include <cstddef>

namespace orva::npapi_plugin {

namespace {

NPNetscapeFuncs browserCopy{};

}  // namespace

NPError copyBrowserFunctions(const NPNetscapeFuncs& browser) noexcept {
    // Reading past a short table would take the browser's neighbouring memory
    // for function pointers.
    if (browser.size < offsetof(NPNetscapeFuncs, setexception) + sizeof browser.setexception) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    if (browser.memalloc == nullptr || browser.memfree == nullptr ||
        browser.getstringidentifier == nullptr || browser.createobject == nullptr ||
        browser.retainobject == nullptr || browser.releaseobject == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    browserCopy = browser;
    browserCopy.getJavaEnv = nullptr;
    browserCopy.getJavaPeer = nullptr;
    return NPERR_NO_ERROR;
}

void* NPN_MemAlloc(uint32_t size) noexcept {
    return browserCopy.memalloc(size);
}

void NPN_MemFree(void* memory) noexcept {
    browserCopy.memfree(memory);
}

NPIdentifier NPN_GetStringIdentifier(const NPUTF8* name) noexcept {
    return browserCopy.getstringidentifier(name);
}

NPObject* NPN_CreateObject(NPP npp, NPClass* objectClass) noexcept {
    return browserCopy.createobject(npp, objectClass);
}

NPObject* NPN_RetainObject(NPObject* object) noexcept {
    return browserCopy.retainobject(object);
}

void NPN_ReleaseObject(NPObject* object) noexcept {
    browserCopy.releaseobject(object);
}

}  // namespace orva::npapi_plugin
