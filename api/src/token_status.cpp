#include "token_status.h"

#include "bound_function_table.h"
#include "device_session.h"

namespace orva::api {

namespace {

// The statuses the user's answers give; the maker's header names 1 only.
constexpr std::uint32_t kUserCancelled = 1;
constexpr std::uint32_t kUserCancelledPinEntry = 48;
constexpr std::uint32_t kUserCancelledButton = 50;
constexpr std::uint32_t kPinLockedStatus = 164;
constexpr std::uint32_t kDefaultPinStatus = 0x80000101u;
constexpr std::uint32_t kTimeoutStatus = 0x80000A01u;
constexpr std::uint32_t kButtonBrokenStatus = 0x80000A04u;
constexpr std::uint32_t kEmptyDisplayStatus = 0x9000D10Du;
constexpr std::uint32_t kBadTransactionStatus = 0x9000D10Eu;

}  // namespace

ApiErrorCode mapTokenStatus(std::uint32_t status, ApiErrorCode defaultCode) noexcept {
    switch (status) {
        case 0:
            return kSuccess;
        case kUserCancelled:
        case kUserCancelledPinEntry:
        case kUserCancelledButton:
            return kUserCancel;
        case kPinLockedStatus:
            return kPinLocked;
        case kDefaultPinStatus:
            return kDefaultPin;
        case kTimeoutStatus:
            return kOperationTimeout;
        case kButtonBrokenStatus:
            return kButtonBreakdown;
        case kEmptyDisplayStatus:
            return kKeyShowNull;
        case kBadTransactionStatus:
            return kXmlBadData;
        default:
            return defaultCode;
    }
}

ApiErrorCode verifyPinOnKey(const DeviceSession& session, ApiErrorCode defaultCode) noexcept {
    return session.call(&DravikApi::QZVerifyPIN, DRV_PIN_USER, nullptr, 0, nullptr, 0)
        .mapped(defaultCode);
}

}  // namespace orva::api
