#pragma once

// MapTokenStatus: the token manager's status words as result codes.

#include <cstdint>

#include "orva_result_codes.h"

namespace orva::api {

// 0 is success; the words the person at the key or the key's display cause have
// codes of their own; any other word becomes the caller's default code.
ApiErrorCode mapTokenStatus(std::uint32_t status, ApiErrorCode defaultCode) noexcept;

// The key asks its user for the PIN (none is passed); the answer mapped.
ApiErrorCode verifyPinOnKey(void* device, ApiErrorCode defaultCode) noexcept;

}  // namespace orva::api
