#pragma once

// The plug-in's charset setting, process-wide.

#include "current_charset.h"

namespace orva::npapi_plugin {

frontend::CurrentCharset& pluginCharset() noexcept;

}  // namespace orva::npapi_plugin
