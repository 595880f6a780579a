#pragma once

// What every registry entry point shares: the wrapper that lets nothing
// escape, and finding a handle's key in a snapshot.

#include <new>

#include "registry_handles.h"
#include "registry_model.h"

namespace orva::platform::registry {

// Runs an entry point's body: an allocation failure or anything unexpected
// becomes a status, never an exception across the boundary.
template <class Body>
LSTATUS guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}

// ERROR_KEY_DELETED when the handle's key is gone (deleted here, or missing
// from the file). A predefined root never is: HKEY_CLASSES_ROOT may point at a
// key nobody created yet, which reads as empty.
LSTATUS checkAlive(const KeyRef& ref, const Hive& hive);

// The handle's key; null with ERROR_SUCCESS for a predefined root whose key
// does not exist yet.
LSTATUS findKey(const KeyRef& ref, const Hive& hive, const Key** key);

}  // namespace orva::platform::registry
