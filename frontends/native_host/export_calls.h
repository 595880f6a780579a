#pragma once

// How handlers call exports and turn their results into reply texts.

#include <cstdint>
#include <string>

#include "orva_result_codes.h"
#include "output_buffer.h"

namespace orva::native_host {

// A result code in decimal: "0", "-106".
inline std::string codeToText(int code) {
    return std::to_string(code);
}
inline std::string codeToText(ApiErrorCode code) {
    return codeToText(code.number());
}

// A text export: a zero-filled buffer of size bytes (kMallocFailed for 0 or above
// INT_MAX), the length preset to it; on 0 the buffer's text up to its first NUL
// (the length the export gives back is not used), else the code. call(buffer, &length) makes the
// call.
template <class Call>
std::string callTextExport(std::uint64_t size, Call&& call) {
    frontend::OutputBuffer buffer(size);
    if (!buffer) {
        return codeToText(kMallocFailed);
    }
    const ApiErrorCode code{call(buffer.data(), buffer.length())};
    return code == kSuccess ? std::string(buffer.text()) : codeToText(code);
}

// A number export: the int it writes on 0, else the code.
template <class Call>
std::string callNumberExport(Call&& call) {
    int n = 0;
    const ApiErrorCode code{call(&n)};
    return code == kSuccess ? std::to_string(n) : codeToText(code);
}

}  // namespace orva::native_host
