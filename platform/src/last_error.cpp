#include "win32/errors.h"

namespace {
// One slot per thread, shared by every module because libplatform.so is loaded once.
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

ORVA_API_ENTRY void SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

ORVA_API_ENTRY DWORD GetLastError(void) {
    return lastError;
}
