#pragma once

// CheckAdminKeyState: whether the key's administrator key is in the state an
// operation needs.

#include <cstdint>

#include "device_session.h"
#include "orva_result_codes.h"

namespace orva::api {

// State 1 when the admin-key record's bytes 2-3 read "00", else state 2.
inline constexpr std::int32_t kAdminKeyInitial = 1;
inline constexpr std::int32_t kAdminKeyUpdated = 2;

// 0 in the wanted state; kGetAdminKeyInfoError when the record cannot be read; kFunctionUnsupported
// in the other state.
ApiErrorCode checkAdminKeyState(const DeviceSession& session, std::int32_t wanted) noexcept;

// Opens the session, then checks the state: the first failure's code.
ApiErrorCode openInAdminKeyState(DeviceSession& session, std::int32_t wanted) noexcept;

}  // namespace orva::api
