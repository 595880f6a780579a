// External authentication, the user PIN and re-initialisation.

#include "operations.h"

namespace orva::dravik {

using softkey::Button;
using softkey::SecureString;

namespace {

// A PIN the caller passed; none (null or length 0) means the key asks its user.
std::optional<std::string_view> callerPin(const char* pin, std::uint32_t len) {
    if (pin == nullptr || len == 0) {
        return std::nullopt;
    }
    require(len <= softkey::kPinMaxBytes);
    return std::string_view(pin, len);
}

}  // namespace

std::uint32_t askPin(const softkey::ScriptedUser& user, bool newPin, SecureString& pin) {
    switch (user.button) {
        case Button::cancel:
            return DRV_E_CANCELLED;
        case Button::timeout:
            return DRV_E_TIMEOUT;
        case Button::broken:
            return DRV_E_BUTTON_BROKEN;
        case Button::confirm:
            break;
    }
    const auto& typed = newPin ? user.newPin : user.pin;
    if (!typed) {
        return DRV_E_CANCELLED;  // a user with nothing to type gives up
    }
    pin = *typed;
    return DRV_OK;
}

std::uint32_t checkPin(Call& call, const Device& device, std::string_view pin) {
    return call.change(device, [&](Token& t) -> std::uint32_t {
        if (t.pin.triesLeft == 0) {
            return DRV_E_PIN_LOCKED;
        }
        if (!softkey::pinMatches(t, pin)) {
            --t.pin.triesLeft;
            // The try that uses the last one up answers "locked" at once.
            return t.pin.triesLeft == 0 ? DRV_E_PIN_LOCKED : DRV_E_WRONG_PIN(t.pin.triesLeft);
        }
        t.pin.triesLeft = t.pin.maxTries;
        return t.pin.isDefault ? DRV_E_DEFAULT_PIN : DRV_OK;
    });
}

std::uint32_t externAuth(Call& call, void* handle, std::uint32_t keyId) {
    Device& device = call.device(handle);
    call.requirePresent(device);
    require(keyId == DRV_DEVICE_AUTH_KEY, DRV_E_NOT_FOUND);
    if (call.faults().refuseExternAuth) {
        device.authenticated = false;
        return DRV_E_AUTH_FAILED;
    }
    device.authenticated = true;
    return DRV_OK;
}

std::uint32_t verifyPin(Call& call, void* handle, std::uint32_t pinType, const char* pin,
                        std::uint32_t pinLen, std::uint32_t flag) {
    Device& device = call.device(handle);
    const Token& key = call.key(device);
    require(pinType == DRV_PIN_USER);
    if (key.pin.triesLeft == 0) {
        device.pinVerified = false;
        return DRV_E_PIN_LOCKED;
    }
    if (flag != 0 && device.pinVerified) {
        return DRV_OK;
    }
    device.pinVerified = false;
    SecureString typed;
    if (const auto given = callerPin(pin, pinLen)) {
        typed.assign(given->data(), given->size());
    } else if (const std::uint32_t status = askPin(call.user(device), false, typed);
               status != DRV_OK) {
        return status;
    }
    const std::uint32_t status =
        checkPin(call, device, std::string_view(typed.data(), typed.size()));
    // A default PIN is right but not yet good for use: nothing is cached.
    device.pinVerified = status == DRV_OK;
    return status;
}

std::uint32_t changePin(Call& call, void* handle, std::uint32_t pinType, const char* oldPin,
                        std::uint32_t oldPinLen, const char* newPin, std::uint32_t newPinLen,
                        std::uint32_t* triesLeft) {
    Device& device = call.device(handle);
    const Token& key = call.key(device);
    require(pinType == DRV_PIN_USER);
    if (key.pin.triesLeft == 0) {
        if (triesLeft != nullptr) {
            *triesLeft = 0;
        }
        return DRV_E_PIN_LOCKED;
    }
    const softkey::ScriptedUser user = call.user(device);
    SecureString oldTyped;
    SecureString newTyped;
    if (const auto given = callerPin(oldPin, oldPinLen)) {
        oldTyped.assign(given->data(), given->size());
    } else if (const std::uint32_t status = askPin(user, false, oldTyped); status != DRV_OK) {
        return status;
    }
    if (const auto given = callerPin(newPin, newPinLen)) {
        newTyped.assign(given->data(), given->size());
    } else if (const std::uint32_t status = askPin(user, true, newTyped); status != DRV_OK) {
        return status;
    }
    const std::string_view newText(newTyped.data(), newTyped.size());
    require(softkey::isValidPin(newText));

    std::uint32_t left = 0;
    const std::uint32_t status = call.change(device, [&](Token& t) -> std::uint32_t {
        if (t.pin.triesLeft == 0) {
            return DRV_E_PIN_LOCKED;
        }
        if (!softkey::pinMatches(t, std::string_view(oldTyped.data(), oldTyped.size()))) {
            left = --t.pin.triesLeft;
            return left == 0 ? DRV_E_PIN_LOCKED : DRV_E_WRONG_PIN(left);
        }
        softkey::setPin(t, newText, false);
        left = t.pin.triesLeft;
        return DRV_OK;
    });
    if (triesLeft != nullptr) {
        *triesLeft = left;
    }
    device.pinVerified = status == DRV_OK;
    return status;
}

std::uint32_t clearPinCache(Call& call, void* handle, std::uint32_t) {
    Device& device = call.device(handle);
    device.forget();
    call.requirePresent(device);
    return DRV_OK;
}

std::uint32_t initAdf(Call& call, void* handle, const char* pin, std::uint32_t pinLen) {
    Device& device = call.device(handle);
    const Token& key = call.key(device);
    require(key.adminState == 1, DRV_E_SECURITY);
    SecureString typed;
    if (const auto given = callerPin(pin, pinLen)) {
        typed.assign(given->data(), given->size());
    } else {
        // The key asks for the PIN to set; a script with only "pin" sets that one.
        softkey::ScriptedUser user = call.user(device);
        if (!user.newPin) {
            user.newPin = user.pin;
        }
        if (const std::uint32_t status = askPin(user, true, typed); status != DRV_OK) {
            return status;
        }
    }
    const std::string_view text(typed.data(), typed.size());
    require(softkey::isValidPin(text));
    call.change(device, [&](Token& t) {
        t.containers.clear();
        t.keyFiles.clear();
        t.randomForEnc.clear();
        softkey::setPin(t, text, false);
    });
    device.forget();
    device.cursor = 0;
    return DRV_OK;
}

}  // namespace orva::dravik
