#pragma once

// One entry into Dravik: the store it works on, the faults in force for it, the
// call trace, and the turning of every failure into a status word.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device.h"
#include "faults.h"
#include "maker/dravik.h"
#include "store.h"
#include "token.h"
#include "user.h"

namespace orva::dravik {

using softkey::Token;

// A failed call and its status word; the entry's guard returns it.
struct Status {
    std::uint32_t code;
};

[[noreturn]] inline void fail(std::uint32_t code) {
    throw Status{code};
}

inline void require(bool ok, std::uint32_t code = DRV_E_BAD_ARGUMENT) {
    if (!ok) {
        fail(code);
    }
}

// A caller's (pointer, length) as bytes; null is only allowed with length 0.
inline std::span<const std::uint8_t> input(const void* data, std::uint32_t len) {
    require(data != nullptr || len == 0);
    return {static_cast<const std::uint8_t*>(data), data == nullptr ? 0u : len};
}

class Call {
  public:
    // Appends name to the trace, reads the faults and fails with an injected status.
    explicit Call(const char* name);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    softkey::Store& store() noexcept { return store_; }
    const softkey::Faults& faults() const noexcept { return faults_; }

    // The live object behind a handle (DRV_E_INVALID_HANDLE). A pull-out due for
    // this call happens here: the device's key, or every key for a context.
    Context& context(void* handle);
    Device& device(void* handle);

    // The device's key as the store holds it now (DRV_E_DEVICE_REMOVED if pulled
    // out), kept unchanged while this call lasts.
    const Token& key(const Device& device);
    void requirePresent(const Device& device) const;

    // Changes the device's key under the store's lock; see Store::update.
    template <typename F>
    auto change(const Device& device, F&& change) {
        return store_.update(device.serial, true, std::forward<F>(change));
    }

    softkey::ScriptedUser user(const Device& device) const;

  private:
    void pull(const std::vector<std::string>& serials);

    const char* name_;
    softkey::Store store_;
    softkey::Faults faults_;
    std::optional<softkey::Faults> pullOut_;
    std::vector<std::shared_ptr<const Token>> keys_;
};

// The status word of the exception being handled.
std::uint32_t currentStatus() noexcept;

// Runs an entry's body; nothing escapes it.
template <typename F>
std::uint32_t guarded(const char* name, F&& body) noexcept {
    try {
        Call call(name);
        return body(call);
    } catch (...) {
        return currentStatus();
    }
}

// --- caller's buffers -----------------------------------------------------------

// Hands bytes to a caller's buffer of *len bytes: a null buffer asks for the size
// (*len = size, DRV_OK); a short one gets *len = size and DRV_E_BUFFER_TOO_SMALL,
// untouched; else the bytes, *len = size.
std::uint32_t putBytes(std::span<const std::uint8_t> bytes, std::uint8_t* out, std::uint32_t* len);

// Hands bytes to a buffer the caller gave no length for, of the fixed room that
// interface promises; the bytes never exceed it.
void putFixed(std::span<const std::uint8_t> bytes, void* out, std::size_t room);
// The same for a text with its NUL.
void putText(std::string_view text, char* out, std::size_t room);

}  // namespace orva::dravik
