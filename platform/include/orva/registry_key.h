#pragma once

// An open registry key, closed when its owner goes.

#include <memory>
#include <type_traits>

#include "win32/registry.h"

namespace orva {

struct RegistryKeyClose {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
using RegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyClose>;

}  // namespace orva
