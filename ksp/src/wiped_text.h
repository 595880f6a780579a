#pragma once

// UTF-16 text of the provider's objects (names, use contexts), wiped when
// it is replaced or freed: a use context may carry what the caller keeps
// secret.

#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

#include "orva/cleanse.h"

namespace orva::ksp {

class WipedText {
  public:
    // The characters and a NUL after them.
    explicit WipedText(std::u16string_view text) : units_(text.size() + 1, u'\0') {
        std::memcpy(units_.data(), text.data(), text.size() * sizeof(char16_t));
    }
    // size bytes and a UTF-16 NUL after them (an odd size padded); read back
    // up to the first NUL.
    static WipedText fromBytes(const void* data, std::size_t size) {
        WipedText text;
        text.units_.assign((size + 1) / 2 + 1, u'\0');
        if (size != 0) {
            std::memcpy(text.units_.data(), data, size);
        }
        return text;
    }

    ~WipedText() { wipe(); }
    WipedText(WipedText&& other) noexcept = default;
    WipedText& operator=(WipedText&& other) noexcept {
        if (this != &other) {
            wipe();
            units_ = std::move(other.units_);
        }
        return *this;
    }
    WipedText(const WipedText&) = delete;
    WipedText& operator=(const WipedText&) = delete;

    const char16_t* c_str() const noexcept { return units_.data(); }
    std::u16string_view view() const noexcept { return std::u16string_view(units_.data()); }

  private:
    WipedText() = default;
    void wipe() noexcept { orva::cleanse(units_.data(), units_.size() * sizeof(char16_t)); }

    // Always on the heap, never in the object, so wiping reaches every copy.
    std::vector<char16_t> units_;
};

}  // namespace orva::ksp
