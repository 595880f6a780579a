#pragma once

// The plug-in's binding of the token API library.

#include "api_binding.h"

namespace orva::npapi_plugin {

// Whether the binding stands, binding it when it does not. A failed attempt
// frees what it loaded, so the next one starts afresh.
bool EnsureApiLoaded() noexcept;
// The bound functions; valid once EnsureApiLoaded answered true.
const frontend::ApiFunctionTable& api() noexcept;

}  // namespace orva::npapi_plugin
