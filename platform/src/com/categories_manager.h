#pragma once

// The component-categories manager built into our COM layer.

#include "win32/com.h"

namespace orva::platform::com {

// A new manager, asked for riid; E_OUTOFMEMORY while the test switch is set.
HRESULT createCategoriesManager(IUnknown* outer, REFIID riid, void** object);

}  // namespace orva::platform::com
