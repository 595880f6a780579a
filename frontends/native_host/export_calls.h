#pragma once

// How handlers call exports and turn their results into reply texts.

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "orva_result_codes.h"

namespace orva::native_host {

// A result code in decimal: "0", "-106".
inline std::string codeToText(int code) {
    return std::to_string(code);
}

// A zero-filled output buffer. calloc hands out large sizes as untouched
// zero pages, so a big MaxLength costs what the library writes.
class ZeroedBuffer {
  public:
    // Empty (false) when size is 0, above INT_MAX (the in/out length is an
    // int) or cannot be had.
    explicit ZeroedBuffer(std::uint64_t size) noexcept {
        if (size > 0 && size <= INT_MAX) {
            bytes_.reset(static_cast<char*>(std::calloc(static_cast<std::size_t>(size), 1)));
            if (bytes_) {
                size_ = static_cast<int>(size);
            }
        }
    }
    explicit operator bool() const noexcept { return bytes_ != nullptr; }
    char* data() noexcept { return bytes_.get(); }
    int size() const noexcept { return size_; }
    // The text up to its first NUL, never past the buffer.
    std::string text() const {
        return std::string(bytes_.get(), strnlen(bytes_.get(), static_cast<std::size_t>(size_)));
    }

  private:
    struct Free {
        void operator()(char* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<char, Free> bytes_;
    int size_ = 0;
};

// A text export: a zero-filled buffer of size bytes, the length preset to it;
// on 0 the buffer's text up to its first NUL (the length the export gives back
// is not used), else the code. call(buffer, &length) makes the call.
template <class Call>
std::string callTextExport(std::uint64_t size, Call&& call) {
    ZeroedBuffer buffer(size);
    if (!buffer) {
        return codeToText(kMallocFailed);
    }
    int length = buffer.size();
    const int code = call(buffer.data(), &length);
    return code == kSuccess ? buffer.text() : codeToText(code);
}

// A number export: the int it writes on 0, else the code.
template <class Call>
std::string callNumberExport(Call&& call) {
    int n = 0;
    const int code = call(&n);
    return code == kSuccess ? std::to_string(n) : codeToText(code);
}

}  // namespace orva::native_host
