#pragma once

// The table of the token API library's exports that every front end resolves.

#include "orva_api.h"
#include "orva_api_exports.h"

namespace orva::frontend {

// One pointer per export, each null until it is resolved.
struct ApiFunctionTable {
#define ORVA_API_FUNCTION_SLOT(name) decltype(&QZAPI_##name) name = nullptr;
    ORVA_API_FUNCTION_LIST(ORVA_API_FUNCTION_SLOT)
#undef ORVA_API_FUNCTION_SLOT
};

}  // namespace orva::frontend
