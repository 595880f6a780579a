#include "sized_output.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace orva::api {

ApiErrorCode sizedOutput(std::string_view text, char* buffer, int* length) noexcept {
    // The size with its NUL must fit the caller's int.
    if (text.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return kOperationFailed;
    }
    const int needed = static_cast<int>(text.size()) + 1;
    if (!buffer) {
        *length = needed;
        return kSuccess;
    }
    if (*length < needed) {
        *length = needed;
        return kBufferTooSmall;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    *length = needed - 1;
    return kSuccess;
}

}  // namespace orva::api
