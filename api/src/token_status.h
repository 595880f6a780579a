#pragma once

// The token manager's status words as result codes.

#include <cstdint>

#include "maker/dravik.h"
#include "orva_result_codes.h"

namespace orva::api {

class DeviceSession;

// 0 is success; the words the person at the key or the key's display cause have
// codes of their own; any other word becomes the caller's default code.
ApiErrorCode mapTokenStatus(std::uint32_t status, ApiErrorCode defaultCode) noexcept;

// The status word a maker function answered, judged where it is read: each call
// names the code its failure becomes.
class [[nodiscard]] MakerStatus {
  public:
    constexpr explicit MakerStatus(std::uint32_t word) noexcept : word_(word) {}

    constexpr bool ok() const noexcept { return word_ == DRV_OK; }
    constexpr bool is(std::uint32_t word) const noexcept { return word_ == word; }
    constexpr std::uint32_t word() const noexcept { return word_; }

    // kSuccess, else the call's own code for any failure.
    constexpr ApiErrorCode checked(ApiErrorCode failure) const noexcept {
        return ok() ? kSuccess : failure;
    }
    // kSuccess, a code of the user's or the display's own, else defaultCode.
    ApiErrorCode mapped(ApiErrorCode defaultCode) const noexcept {
        return mapTokenStatus(word_, defaultCode);
    }

  private:
    std::uint32_t word_;
};

// The key asks its user for the PIN (none is passed); the answer mapped.
ApiErrorCode verifyPinOnKey(const DeviceSession& session, ApiErrorCode defaultCode) noexcept;

}  // namespace orva::api
