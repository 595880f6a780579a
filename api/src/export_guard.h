#pragma once

// Every export's body runs inside guardedExport: nothing thrown crosses the C
// boundary.

#include <new>

#include "orva_result_codes.h"
#include "win32/errors.h"

namespace orva::api {

// The number an export answers: a code's own, or one a body already chose (a
// count, or a code turned into a number beside counts).
constexpr int exportedNumber(ApiErrorCode code) noexcept {
    return code.number();
}
constexpr int exportedNumber(int number) noexcept {
    return number;
}

// A failed allocation is kMallocFailed, anything else thrown kOperationFailed, each with the
// matching last error.
template <class Body>
int guardedExport(Body&& body) noexcept {
    try {
        return exportedNumber(body());
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return kMallocFailed.number();
    } catch (...) {
        SetLastError(ERROR_GEN_FAILURE);
        return kOperationFailed.number();
    }
}

}  // namespace orva::api
