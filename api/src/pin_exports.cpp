// Exports that initialise the key and change its user PIN.

#include <cstdint>
#include <cstring>
#include <optional>

#include "admin_key_state.h"
#include "bound_function_table.h"
#include "device_session.h"
#include "export_guard.h"
#include "orva_api.h"
#include "status_event.h"
#include "token_status.h"

namespace orva::api {

namespace {

constexpr int kMinPinLength = 6;
constexpr int kMaxPinLength = 30;
// -(200 + n) for n tries left has a text only for these n.
constexpr std::uint32_t kMaxTriesWithText = 6;

// "VERIFY PIN RETRY" with n tries left, -(200 + n); none for a count without a
// text of its own: a larger one would read as another code (kPinLocked,
// kPinLengthError, one of the -3xx codes).
[[nodiscard]] std::optional<ApiErrorCode> pinRetryCode(std::uint32_t triesLeft) noexcept {
    if (triesLeft < 1 || triesLeft > kMaxTriesWithText) {
        return std::nullopt;
    }
    return ApiErrorCode{kVerifyPinRetry.number() - static_cast<std::int32_t>(triesLeft)};
}

// A PIN's length must be in range, and the text must really hold that many
// bytes: the token manager reads exactly the length it is given.
[[nodiscard]] bool pinLengthFits(const char* pin, int length) noexcept {
    return length >= kMinPinLength && length <= kMaxPinLength &&
           strnlen(pin, static_cast<std::size_t>(length)) == static_cast<std::size_t>(length);
}

ApiErrorCode custInitCard(const char* pin, int pinLength) {
    // Without a PIN the length is not looked at.
    if (pin && !pinLengthFits(pin, pinLength)) {
        return kPinLengthError;
    }
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    if (const ApiErrorCode code = checkAdminKeyState(session, kAdminKeyInitial); code != kSuccess) {
        return code;
    }
    // A null PIN leaves the PIN entry to the key.
    const ApiErrorCode code = session
                                  .call(&DravikApi::QZInitADF, 0, 0, pin,
                                        static_cast<std::uint32_t>(pinLength), 0, nullptr, 0, 0)
                                  .mapped(kDeviceStructError);
    if (code == kSuccess) {
        signalStatusChangeEvent();
    }
    // The session closes on return.
    return code;
}

ApiErrorCode changePIN(const char* oldPin, int oldPinLength, const char* newPin, int newPinLength) {
    // Both PINs or neither; with neither the key asks for them.
    if (oldPin) {
        if (!newPin) {
            return kInvalidParameter;
        }
        if (!pinLengthFits(oldPin, oldPinLength)) {
            return kPinLengthError;
        }
        if (!pinLengthFits(newPin, newPinLength)) {
            return kPinLengthError;
        }
    } else if (newPin) {
        return kInvalidParameter;
    }
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    std::uint32_t triesLeft = 0;
    const ApiErrorCode code = session
                                  .call(&DravikApi::QZChangePIN, DRV_PIN_USER, oldPin,
                                        static_cast<std::uint32_t>(oldPinLength), newPin,
                                        static_cast<std::uint32_t>(newPinLength), &triesLeft)
                                  .mapped(kOperationFailed);
    // A refusal that counts the tries left says how many.
    if (code == kOperationFailed) {
        if (const std::optional<ApiErrorCode> retry = pinRetryCode(triesLeft)) {
            return *retry;
        }
    }
    return code;
}

}  // namespace

}  // namespace orva::api

using orva::api::guardedExport;

extern "C" int QZAPI_CustInitCard(const char* pin, int pinLength) {
    return guardedExport([&] { return orva::api::custInitCard(pin, pinLength); });
}

extern "C" int QZAPI_ChangePIN(const char* oldPin, int oldPinLength, const char* newPin,
                               int newPinLength) {
    return guardedExport(
        [&] { return orva::api::changePIN(oldPin, oldPinLength, newPin, newPinLength); });
}
