#pragma once

// The maker's logging library: loaded once, looked up, never called or freed.

#include "win32/module.h"

namespace orva::npapi_plugin {

// The folder the plug-in loads the logging library from.
inline constexpr const char* kLogLibraryFolder = "/opt/apps/com.korvane.orva/files/lib/";

// Loads Scrivel.dll from folder, else from module's folder, else by its bare
// name, and looks up LogW and LogA. 1 when the library loaded, else 0.
int LoadLogLibrary(HMODULE module, const char* folder) noexcept;

}  // namespace orva::npapi_plugin
