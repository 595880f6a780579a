// The plug-in callbacks: instances, windows, streams and values.

#include "plugin_callbacks.h"

#include <new>

#include "api_loader.h"
#include "plugin_instance.h"

namespace orva::npapi_plugin {

namespace {

PluginInstance* instanceOf(NPP npp) noexcept {
    return static_cast<PluginInstance*>(npp->pdata);
}

// destroystream and setvalue share NPP_NewStream's answer; their own
// signatures reach it here.
NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason /*reason*/) {
    return NPP_NewStream(instance, nullptr, stream, 0, nullptr);
}
NPError NPP_SetValue(NPP instance, NPNVariable /*variable*/, void* /*value*/) {
    return NPP_NewStream(instance, nullptr, nullptr, 0, nullptr);
}

void NPP_StreamAsFile(NPP, NPStream*, const char*) {}
void NPP_Print(NPP, void*) {}
void NPP_URLNotify(NPP, const char*, NPReason, void*) {}

constexpr const char* kPluginName = "npqzorva";
constexpr const char* kPluginDescription = "ORVA UKEY Ctrl for firefox(Korvane)";

}  // namespace

NPError NPP_New(NPMIMEType /*pluginType*/, NPP instance, uint16_t /*mode*/, int16_t /*argc*/,
                char* /*argn*/[], char* /*argv*/[], NPSavedData* /*saved*/) {
    if (instance == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    if (!EnsureApiLoaded()) {
        return NPERR_MODULE_LOAD_FAILED_ERROR;
    }
    auto* created = new (std::nothrow) PluginInstance(instance);
    if (created == nullptr) {
        return NPERR_OUT_OF_MEMORY_ERROR;
    }
    instance->pdata = created;
    return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData** /*save*/) {
    if (instance == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    if (PluginInstance* plugin = instanceOf(instance); plugin != nullptr) {
        plugin->DetachWindow();
        delete plugin;
        // The browser may ask again; it must not find the freed instance.
        instance->pdata = nullptr;
    }
    return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window) {
    if (instance == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    PluginInstance* plugin = window != nullptr ? instanceOf(instance) : nullptr;
    if (plugin == nullptr) {
        return NPERR_GENERIC_ERROR;
    }
    // Attached once; a resize or a vanished window changes nothing.
    if (!plugin->IsInitialized() && window->window != nullptr) {
        plugin->AttachWindow(window);
    }
    return NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType /*type*/, NPStream* /*stream*/, NPBool /*seekable*/,
                      uint16_t* /*stype*/) {
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : NPERR_NO_ERROR;
}

int32_t NPP_WriteReady(NPP instance, NPStream* /*stream*/) {
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : 0x0FFFFFFF;
}

int32_t NPP_Write(NPP instance, NPStream* /*stream*/, int32_t /*offset*/, int32_t len,
                  void* /*buffer*/) {
    return instance == nullptr ? NPERR_INVALID_INSTANCE_ERROR : len;
}

int16_t NPP_HandleEvent(NPP /*instance*/, void* /*event*/) {
    return 0;
}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value) {
    if (instance == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    PluginInstance* plugin = instanceOf(instance);
    if (plugin == nullptr || value == nullptr) {
        return NPERR_GENERIC_ERROR;
    }
    switch (variable) {
        case NPPVpluginNameString:
            *static_cast<const char**>(value) = kPluginName;
            return NPERR_NO_ERROR;
        case NPPVpluginDescriptionString:
            *static_cast<const char**>(value) = kPluginDescription;
            return NPERR_NO_ERROR;
        case NPPVpluginScriptableNPObject: {
            NPObject* object = plugin->GetScriptableObject();
            *static_cast<NPObject**>(value) = object;
            // No object is no memory, not success.
            return object != nullptr ? NPERR_NO_ERROR : NPERR_OUT_OF_MEMORY_ERROR;
        }
        default:
            return NPERR_GENERIC_ERROR;
    }
}

void fillPluginFunctions(NPPluginFuncs& table) noexcept {
    table.version = NP_PLUGIN_TABLE_VERSION;
    table.newp = NPP_New;
    table.destroy = NPP_Destroy;
    table.setwindow = NPP_SetWindow;
    table.newstream = NPP_NewStream;
    table.destroystream = NPP_DestroyStream;
    table.asfile = NPP_StreamAsFile;
    table.writeready = NPP_WriteReady;
    table.write = NPP_Write;
    table.print = NPP_Print;
    table.event = NPP_HandleEvent;
    table.urlnotify = NPP_URLNotify;
    table.javaClass = nullptr;
    table.getvalue = NPP_GetValue;
    table.setvalue = NPP_SetValue;
}

}  // namespace orva::npapi_plugin
