#pragma once

// SizedOutput: how every export hands a text to its caller's buffer.

#include <string>
#include <string_view>

#include "orva_result_codes.h"

namespace orva::api {

// With the text computed: a null buffer gets its size with the NUL (0); a
// length below that, negative included, gets that size and kBufferTooSmall with the
// buffer untouched; otherwise the text and its NUL are copied and the length
// set to the text's size (0).
ApiErrorCode sizedOutput(std::string_view text, char* buffer, int* length) noexcept;

// The whole convention: a null length pointer is kInvalidParameter before compute runs.
// compute(std::string& text) returns a code; on success its text goes out
// through sizedOutput, with all of compute's side effects also on a size query.
template <class Compute>
ApiErrorCode withSizedOutput(char* buffer, int* length, Compute&& compute) {
    if (!length) {
        return kInvalidParameter;
    }
    std::string text;
    if (const ApiErrorCode code = compute(text); code != kSuccess) {
        return code;
    }
    return sizedOutput(text, buffer, length);
}

}  // namespace orva::api
