#pragma once

// Every export's body runs inside guardedExport: nothing thrown crosses the C
// boundary.

#include <new>

#include "orva_result_codes.h"
#include "win32/errors.h"

namespace orva::api {

// A failed allocation is kMallocFailed, anything else thrown kOperationFailed, each with the
// matching last error.
template <class Body>
int guardedExport(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return kMallocFailed;
    } catch (...) {
        SetLastError(ERROR_GEN_FAILURE);
        return kOperationFailed;
    }
}

}  // namespace orva::api
