#pragma once

// An owned BSTR, freed with SysFreeString when the owner goes.

#include <utility>

#include "win32/com.h"

namespace orva {

class UniqueBstr {
  public:
    UniqueBstr() noexcept = default;
    // Takes over text (null is no text).
    explicit UniqueBstr(BSTR text) noexcept : text_(text) {}
    UniqueBstr(UniqueBstr&& other) noexcept : text_(other.release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { reset(); }

    BSTR get() const noexcept { return text_; }
    explicit operator bool() const noexcept { return text_ != nullptr; }

    // The out-parameter of a call that hands over a BSTR; the text held
    // before is freed first.
    BSTR* put() noexcept {
        reset();
        return &text_;
    }
    // The text, handed to the caller, who frees it.
    BSTR release() noexcept { return std::exchange(text_, nullptr); }
    void reset(BSTR text = nullptr) noexcept { SysFreeString(std::exchange(text_, text)); }

  private:
    BSTR text_ = nullptr;
};

}  // namespace orva
