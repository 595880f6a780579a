#pragma once

// The registry file: lock-free reads of a parsed snapshot, and changes made
// under a lock and published by an atomic rename.

#include <functional>
#include <memory>
#include <string>

#include "registry_model.h"
#include "registry_text.h"

namespace orva::platform::registry {

// $ORVA_REGISTRY when set and not empty, else /etc/orva/registry.reg; read at
// every call so that a process (or a test) can switch files.
std::string registryFilePath();

struct Snapshot {
    LSTATUS status = ERROR_SUCCESS;
    std::shared_ptr<const Hive> hive;  // set when status is ERROR_SUCCESS
    TextError error;                   // why the file is ERROR_REGISTRY_CORRUPT
};

// The registry as the file holds it now; a missing file is an empty registry.
Snapshot readRegistry();

// change edits a private copy and sets changed when it did; the file is
// replaced only when change succeeds and changed something. A corrupt file is
// never replaced (ERROR_REGISTRY_CORRUPT, with the reason in *error).
using Change = std::function<LSTATUS(Hive& hive, bool& changed)>;
LSTATUS modifyRegistry(const Change& change, TextError* error);

}  // namespace orva::platform::registry
