// The scriptable objects, their class records and the browser's thunks.

#include "scriptable_object.h"

#include <cstdio>
#include <new>

#include "api_loader.h"
#include "browser_functions.h"
#include "invoke_support.h"
#include "method_identifiers.h"
#include "methods/method_table.h"

namespace orva::npapi_plugin {

namespace {

ScriptablePluginObjectBase* whole(NPObject* object) noexcept {
    return static_cast<ScriptablePluginObjectBase*>(object);
}

NPObject* AllocateScriptablePluginObject(NPP npp, NPClass* /*objectClass*/) {
    return new (std::nothrow) ScriptablePluginObject(npp);
}

NPObject* AllocateConstructablePluginObject(NPP npp, NPClass* /*objectClass*/) {
    return new (std::nothrow) ConstructablePluginObject(npp);
}

void NpDeallocate(NPObject* object) {
    delete whole(object);
}

void NpInvalidate(NPObject* object) {
    if (object != nullptr) {
        whole(object)->Invalidate();
    }
}

bool NpHasMethod(NPObject* object, NPIdentifier name) {
    return object != nullptr && whole(object)->HasMethod(name);
}

bool NpInvoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t argCount,
              NPVariant* result) {
    return object != nullptr && whole(object)->Invoke(name, args, argCount, result);
}

bool NpInvokeDefault(NPObject* object, const NPVariant* args, uint32_t argCount,
                     NPVariant* result) {
    return object != nullptr && whole(object)->InvokeDefault(args, argCount, result);
}

bool NpHasProperty(NPObject* object, NPIdentifier name) {
    return object != nullptr && whole(object)->HasProperty(name);
}

bool NpGetProperty(NPObject* object, NPIdentifier name, NPVariant* result) {
    return object != nullptr && whole(object)->GetProperty(name, result);
}

bool NpSetProperty(NPObject* object, NPIdentifier name, const NPVariant* value) {
    return object != nullptr && whole(object)->SetProperty(name, value);
}

bool NpRemoveProperty(NPObject* object, NPIdentifier name) {
    return object != nullptr && whole(object)->RemoveProperty(name);
}

bool NpEnumerate(NPObject* object, NPIdentifier** value, uint32_t* count) {
    return object != nullptr && whole(object)->Enumerate(value, count);
}

bool NpConstruct(NPObject* object, const NPVariant* args, uint32_t argCount, NPVariant* result) {
    return object != nullptr && whole(object)->Construct(args, argCount, result);
}

}  // namespace

namespace {

// Both classes share every operation but allocation.
constexpr NPClass pluginClass(NPAllocateFunctionPtr allocate) {
    return {NP_CLASS_STRUCT_VERSION,
            allocate,
            NpDeallocate,
            NpInvalidate,
            NpHasMethod,
            NpInvoke,
            NpInvokeDefault,
            NpHasProperty,
            NpGetProperty,
            NpSetProperty,
            NpRemoveProperty,
            NpEnumerate,
            NpConstruct};
}

}  // namespace

NPClass ScriptablePluginObjectClass = pluginClass(AllocateScriptablePluginObject);
NPClass ConstructablePluginObjectClass = pluginClass(AllocateConstructablePluginObject);

ScriptablePluginObject::~ScriptablePluginObject() {
    for (HeldResult& slot : held_) {
        ReleaseHeldResult(slot);
    }
}

void ScriptablePluginObject::ReleaseHeldResult(HeldResult& held) {
    if (held.text != nullptr) {
        NPN_MemFree(held.text);
    }
    held.text = nullptr;
    held.length = 0;
}

bool ScriptablePluginObject::HasMethod(NPIdentifier name) {
    std::fputs("Query the methods....\n", stdout);
    return methodIndex(name).has_value();
}

bool ScriptablePluginObject::Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                    NPVariant* result) {
    const std::optional<std::size_t> index = methodIndex(name);
    if (!index || result == nullptr) {
        return false;
    }
    const Arguments arguments(args, argCount);
    try {
        kMethodRows[*index].method(MethodCall{*this, arguments, result, api()});
    } catch (const MethodAnswer& answer) {
        answerCode(result, answer.code);
    } catch (...) {
        // Every other failure on the way is a copy or buffer that could not be had.
        answerCode(result, kMallocFailed);
    }
    return true;
}

bool ScriptablePluginObject::InvokeDefault(const NPVariant* /*args*/, uint32_t /*argCount*/,
                                           NPVariant* result) {
    std::fputs("ScriptablePluginObject default method called!\n", stdout);
    if (result != nullptr && !answerString(result, "default method return val")) {
        answerCode(result, kMallocFailed);
    }
    return true;
}

bool ConstructablePluginObject::Construct(const NPVariant* /*args*/, uint32_t /*argCount*/,
                                          NPVariant* result) {
    std::fputs("Creating new ConstructablePluginObject!\n", stdout);
    NPObject* created = NPN_CreateObject(npp(), &ConstructablePluginObjectClass);
    if (created == nullptr || result == nullptr) {
        if (created != nullptr) {
            NPN_ReleaseObject(created);
        }
        return false;
    }
    result->type = NPVariantType_Object;
    result->value.objectValue = created;
    return true;
}

}  // namespace orva::npapi_plugin
