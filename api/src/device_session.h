#pragma once

// DeviceSession: the reader context and the opened key of one export call.
// Closed when it goes out of scope, so every path of an export closes it.

#include <cstdint>
#include <utility>

#include "bound_function_table.h"
#include "orva_result_codes.h"
#include "token_status.h"

namespace orva::api {

enum class Authentication {
    external,  // the session authenticates itself to the key
    none,      // the serial number is read without it
};

class DeviceSession {
  public:
    DeviceSession() = default;
    ~DeviceSession() { close(); }
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Establishes the reader context, requires exactly one key, opens it and
    // begins a transaction, then (with Authentication::external) authenticates.
    // kDriverNotInstalled unbound, kNoDevice no reader or no key, kTooManyDevices more than one
    // key, kOpenDeviceError the key cannot be opened or refuses the authentication. On failure
    // whatever was obtained is closed again.
    ApiErrorCode open(Authentication authentication = Authentication::external) noexcept;

    // Calls a bound Dravik function on this session's key, which it passes
    // first: every call that reaches a key goes through here.
    template <class... Params, class... Args>
    MakerStatus call(std::uint32_t (*DravikApi::*function)(void*, Params...),
                     Args&&... args) const noexcept {
        return MakerStatus{
            (boundFunctions().dravik.*function)(device_, std::forward<Args>(args)...)};
    }

    // Ends the transaction and closes the key, then releases the context.
    // Results are ignored; a closed session closes nothing.
    void close() noexcept;

  private:
    void* device_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace orva::api
