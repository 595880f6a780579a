#include "admin_key_state.h"

#include <array>
#include <cstring>

#include "bound_function_table.h"

namespace orva::api {

ApiErrorCode checkAdminKeyState(const DeviceSession& session, std::int32_t wanted) noexcept {
    // The record comes without a length: a zeroed room with one byte more than
    // the key may fill keeps it a terminated text.
    std::array<std::uint8_t, DRV_ADMIN_RECORD_ROOM + 1> record{};
    if (const ApiErrorCode code = session.call(&DravikApi::QZGetAdminKeyInfo, record.data())
                                      .checked(kGetAdminKeyInfoError);
        code != kSuccess) {
        return code;
    }
    // Read as a text: its characters 3 and 4 must exist and be "00".
    const char* text = reinterpret_cast<const char*>(record.data());
    const bool initial =
        strnlen(text, DRV_ADMIN_RECORD_ROOM) >= 4 && text[2] == '0' && text[3] == '0';
    const std::int32_t state = initial ? kAdminKeyInitial : kAdminKeyUpdated;
    return state == wanted ? kSuccess : kFunctionUnsupported;
}

ApiErrorCode openInAdminKeyState(DeviceSession& session, std::int32_t wanted) noexcept {
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    return checkAdminKeyState(session, wanted);
}

}  // namespace orva::api
