#pragma once

// The plug-in's callbacks in the table NP_GetEntryPoints fills.

#include "npapi/npapi.h"

namespace orva::npapi_plugin {

NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[],
                char* argv[], NPSavedData* saved);
NPError NPP_Destroy(NPP instance, NPSavedData** save);
NPError NPP_SetWindow(NPP instance, NPWindow* window);
// Streams are accepted and dropped; the same function answers stream
// destruction and value setting.
NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable,
                      uint16_t* stype);
int32_t NPP_WriteReady(NPP instance, NPStream* stream);
int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
int16_t NPP_HandleEvent(NPP instance, void* event);
NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value);

// Fills the table: every slot, the version field 22.
void fillPluginFunctions(NPPluginFuncs& table) noexcept;

}  // namespace orva::npapi_plugin
