#pragma once

// The table of open registry keys. A handle given to a caller is looked up
// here on every call, never dereferenced: an unknown or closed handle is
// ERROR_INVALID_HANDLE.

#include "registry_model.h"

namespace orva::platform::registry {

// What a handle stands for, copied out of the table.
struct KeyRef {
    KeyPath path;             // absolute, already mapped to its view
    REGSAM access = 0;        // rights granted at open
    bool predefined = false;  // HKEY_LOCAL_MACHINE and the other roots
    bool deleted = false;     // this process deleted the key (or a parent)
};

// The predefined roots always resolve, with every right.
LSTATUS lookupHandle(HKEY key, KeyRef* ref);
HKEY addHandle(KeyPath path, REGSAM access);
// ERROR_INVALID_HANDLE for unknown handles; closing a root is a no-op.
LSTATUS closeHandle(HKEY key);
// Marks the open handles of path (with includeSelf) and of every key below it
// as deleted, so that they answer ERROR_KEY_DELETED even if the path is
// created again.
void markDeleted(const KeyPath& path, bool includeSelf);

}  // namespace orva::platform::registry
