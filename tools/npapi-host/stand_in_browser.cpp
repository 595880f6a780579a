// The stand-in browser's functions.

#include "stand_in_browser.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace orva::npapi_host {

namespace {

StandInBrowser* current = nullptr;

StandInBrowser& browser() {
    if (current == nullptr) {
        std::fputs("npapi-host: a plug-in called the browser after it was gone\n", stderr);
        std::abort();
    }
    return *current;
}

void* memAlloc(uint32_t size) {
    return browser().allocator().allocate(size);
}
void memFree(void* block) {
    browser().allocator().release(block);
}
NPIdentifier getStringIdentifier(const NPUTF8* name) {
    return name != nullptr ? browser().identifier(name) : nullptr;
}
NPObject* createObject(NPP npp, NPClass* objectClass) {
    return browser().createObject(npp, objectClass);
}
NPObject* retainObject(NPObject* object) {
    return browser().retainObject(object);
}
void releaseObject(NPObject* object) {
    browser().releaseObject(object);
}
void releaseVariantValue(NPVariant* variant) {
    if (variant != nullptr) {
        browser().releaseVariant(*variant);
    }
}
// Strict: the plug-in has no business calling anything else.
void unexpectedCall() {
    std::fputs("npapi-host: the plug-in called a browser function it does not use\n", stderr);
    std::abort();
}

}  // namespace

StandInBrowser::StandInBrowser() {
    if (current != nullptr) {
        throw std::logic_error("one stand-in browser at a time");
    }
    current = this;
}

StandInBrowser::~StandInBrowser() {
    current = nullptr;
}

NPNetscapeFuncs StandInBrowser::functions() const noexcept {
    NPNetscapeFuncs table{};
    table.size = sizeof table;
    table.version = 0x0016;
    NPN_GenericProcPtr* slots = &table.geturl;
    const std::size_t slotCount =
        (sizeof table - offsetof(NPNetscapeFuncs, geturl)) / sizeof(NPN_GenericProcPtr);
    for (std::size_t i = 0; i < slotCount; ++i) {
        slots[i] = unexpectedCall;
    }
    table.memalloc = memAlloc;
    table.memfree = memFree;
    table.getstringidentifier = getStringIdentifier;
    table.createobject = orva::npapi_host::createObject;
    table.retainobject = orva::npapi_host::retainObject;
    table.releaseobject = orva::npapi_host::releaseObject;
    table.releasevariantvalue = releaseVariantValue;
    return table;
}

NPIdentifier StandInBrowser::identifier(std::string_view name) {
    ++identifierRequests_;
    auto it = identifiers_.find(name);
    if (it == identifiers_.end()) {
        it = identifiers_.emplace(std::string(name), std::make_unique<std::string>(name)).first;
    }
    return it->second.get();
}

uint32_t StandInBrowser::referenceCount(const NPObject* object) const noexcept {
    return objects_.count(const_cast<NPObject*>(object)) != 0 ? object->referenceCount : 0;
}

NPObject* StandInBrowser::createObject(NPP npp, NPClass* objectClass) {
    if (failObjectCreation_ || objectClass == nullptr) {
        return nullptr;
    }
    const bool plain = objectClass->allocate == nullptr;
    NPObject* object = plain ? static_cast<NPObject*>(std::malloc(sizeof(NPObject)))
                             : objectClass->allocate(npp, objectClass);
    if (object == nullptr) {
        return nullptr;
    }
    object->_class = objectClass;
    object->referenceCount = 1;
    objects_.emplace(object, plain);
    return object;
}

NPObject* StandInBrowser::retainObject(NPObject* object) {
    if (objects_.count(object) == 0) {
        ++objectFaults_;
        return object;
    }
    ++object->referenceCount;
    return object;
}

void StandInBrowser::releaseObject(NPObject* object) {
    const auto it = objects_.find(object);
    if (it == objects_.end()) {
        ++objectFaults_;
        return;
    }
    if (--object->referenceCount != 0) {
        return;
    }
    const bool plain = it->second;
    objects_.erase(it);
    if (!plain && object->_class->deallocate != nullptr) {
        object->_class->deallocate(object);
    } else {
        std::free(object);
    }
}

void StandInBrowser::releaseVariant(NPVariant& variant) {
    if (variant.type == NPVariantType_String) {
        allocator_.release(const_cast<NPUTF8*>(variant.value.stringValue.UTF8Characters));
    } else if (variant.type == NPVariantType_Object) {
        releaseObject(variant.value.objectValue);
    }
    variant = NPVariant{};
    variant.type = NPVariantType_Void;
}

}  // namespace orva::npapi_host
