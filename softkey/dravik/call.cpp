#include "call.h"

#include <cstring>
#include <new>

#include "key_crypto.h"

namespace orva::dravik {

Call::Call(const char* name) : name_(name), store_(softkey::Store::fromEnvironment()) {
    softkey::CallSwitches switches = softkey::readCallSwitches(store_);
    if (switches.tracing) {
        store_.appendLine(softkey::kTraceFile, name_);
    }
    faults_ = std::move(switches.faults);
    store_.setFailWrites(faults_.failWrites);
    if (const auto status = softkey::takeFailure(store_, name_, &faults_)) {
        fail(*status);
    }
    pullOut_ = softkey::takePullOut(store_, name_, &faults_);
}

Call::~Call() {
    // A pull-out due for a call that reached no key pulls every key out.
    if (pullOut_) {
        try {
            pull(store_.serials(softkey::KeyPlace::present));
        } catch (...) {
        }
    }
}

void Call::pull(const std::vector<std::string>& serials) {
    if (pullOut_) {
        const softkey::Faults fired = *pullOut_;
        pullOut_.reset();
        softkey::pullOut(store_, fired, serials);
    }
}

Context& Call::context(void* handle) {
    Context* context = contexts().find(handle);
    require(context != nullptr, DRV_E_INVALID_HANDLE);
    if (pullOut_) {
        pull(store_.serials(softkey::KeyPlace::present));
    }
    return *context;
}

Device& Call::device(void* handle) {
    Device* device = devices().find(handle);
    require(device != nullptr, DRV_E_INVALID_HANDLE);
    if (pullOut_) {
        pull({device->serial});
    }
    return *device;
}

const Token& Call::key(const Device& device) {
    return *keys_.emplace_back(store_.readPresent(device.serial));
}

void Call::requirePresent(const Device& device) const {
    require(store_.placeOf(device.serial) == softkey::KeyPlace::present, DRV_E_DEVICE_REMOVED);
}

softkey::ScriptedUser Call::user(const Device& device) const {
    return softkey::scriptedUser(store_, device.serial);
}

std::uint32_t currentStatus() noexcept {
    try {
        throw;
    } catch (const Status& s) {
        return s.code;
    } catch (const softkey::TokenError& e) {
        return e.status;
    } catch (const softkey::StoreError& e) {
        switch (e.kind) {
            case softkey::StoreErrorKind::notFound:
            case softkey::StoreErrorKind::notPresent:
                return DRV_E_DEVICE_REMOVED;
            case softkey::StoreErrorKind::writeFailed:
                return DRV_E_WRITE_FAILED;
            default:
                return DRV_E_INTERNAL;
        }
    } catch (...) {
        // std::bad_alloc, CryptoError and anything else: the key failed inside.
        return DRV_E_INTERNAL;
    }
}

std::uint32_t putBytes(std::span<const std::uint8_t> bytes, std::uint8_t* out, std::uint32_t* len) {
    require(len != nullptr);
    require(bytes.size() <= UINT32_MAX, DRV_E_INTERNAL);
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (out == nullptr) {
        *len = size;
        return DRV_OK;
    }
    if (*len < size) {
        *len = size;
        return DRV_E_BUFFER_TOO_SMALL;
    }
    if (size > 0) {
        std::memcpy(out, bytes.data(), size);
    }
    *len = size;
    return DRV_OK;
}

void putFixed(std::span<const std::uint8_t> bytes, void* out, std::size_t room) {
    require(out != nullptr);
    require(bytes.size() <= room, DRV_E_INTERNAL);
    if (!bytes.empty()) {
        std::memcpy(out, bytes.data(), bytes.size());
    }
}

void putText(std::string_view text, char* out, std::size_t room) {
    require(out != nullptr);
    require(text.size() < room, DRV_E_INTERNAL);
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
}

}  // namespace orva::dravik
