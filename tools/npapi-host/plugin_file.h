#pragma once

// What a plug-in file says it handles, read from its version block.

#include <string>

namespace orva::npapi_host {

inline constexpr const char* kPluginMimeType = "application/orva-firefox-XR-plugin";

// The MIMEType entry of the file's version block; "" when it has none.
std::string pluginMimeType(const std::string& path);

}  // namespace orva::npapi_host
