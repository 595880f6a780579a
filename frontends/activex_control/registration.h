#pragma once

// What the control's server writes into the registry, and how.

#include <string_view>

#include "win32/com.h"

namespace orva::control {

// The registry script, in the registrar's syntax; %MODULE% is the module's path.
extern const std::string_view kRegistryScript;

// The class's registration steps; each stops at the first failure and
// returns it, undoing nothing.
HRESULT registerServer(const char* modulePath) noexcept;
HRESULT unregisterServer() noexcept;

}  // namespace orva::control
