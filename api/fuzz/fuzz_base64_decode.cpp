// Input: the whole input is the base64 text to decode.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base64_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::size_t> length = orva::api::base64DecodedLength(text);
    if (!length) {
        // A text the size check refuses must not decode either.
        if (orva::api::base64Decode(text)) {
            __builtin_trap();
        }
        return 0;
    }
    // The decoder writes exactly the size it announced, and refuses one byte less.
    orva::api::Bytes bytes(*length);
    if (orva::api::base64Decode(text, bytes) != length) {
        __builtin_trap();
    }
    if (*length > 0 && orva::api::base64Decode(text, std::span(bytes).first(*length - 1))) {
        __builtin_trap();
    }
    // Encoding the bytes gives a text of the same length that decodes to them
    // again (the text may differ only in bits below the last whole byte).
    const std::string again = orva::api::base64Encode(bytes);
    if (again.size() != size || orva::api::base64Decode(again) != bytes) {
        __builtin_trap();
    }
    return 0;
}
