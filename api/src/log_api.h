#pragma once

// LogApi: Scrivel's two logging entry points. Both always hold something
// callable: the do-nothing function until Scrivel is bound, and again after it
// is freed. The library itself never logs.

#include "maker/scrivel.h"
#include "win32/types.h"

namespace orva::api {

struct LogApi {
    decltype(&::LogW) LogW;
    decltype(&::LogA) LogA;
};

const LogApi& logApi() noexcept;

// Looks up LogW, then LogA, in a loaded Scrivel; a name not found gets the
// do-nothing function.
void bindLogApi(HMODULE scrivel) noexcept;

// Both back to the do-nothing function.
void resetLogApi() noexcept;

}  // namespace orva::api
