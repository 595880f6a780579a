#pragma once

// Shared pieces of the code-page converters: the outcome of a conversion and
// the bounded writer every converter fills the caller's buffer through.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orva::platform {

enum class ConvertStatus {
    kOk,
    kInvalidInput,    // a sequence with no translation, and the caller asked to fail on it
    kBufferTooSmall,  // the output needs more than the caller's count (or more than an int)
    kUnavailable,     // the system has no converter for the code page
};

// Appends units to the caller's buffer without ever passing its count. With no
// buffer it only counts (a size query), up to the largest count an int result
// can carry. A character is appended whole or not at all, so a partial result
// never ends in half a character.
template <class Unit>
class Output {
  public:
    static constexpr std::size_t kMaxCount = INT_MAX;

    Output(Unit* buffer, std::size_t capacity)
        : buffer_(buffer),
          capacity_(buffer != nullptr ? std::min(capacity, kMaxCount) : kMaxCount) {}

    [[nodiscard]] bool put(Unit unit) {
        if (count_ == capacity_) {
            return false;
        }
        if (buffer_ != nullptr) {
            buffer_[count_] = unit;
        }
        ++count_;
        return true;
    }

    // Appends `units`, each converted to Unit (used to widen ASCII runs).
    template <class From>
    [[nodiscard]] bool put(std::span<const From> units) {
        if (capacity_ - count_ < units.size()) {
            return false;
        }
        if (buffer_ != nullptr) {
            std::transform(units.begin(), units.end(), buffer_ + count_,
                           [](From u) { return static_cast<Unit>(u); });
        }
        count_ += units.size();
        return true;
    }

    std::size_t count() const { return count_; }

  private:
    Unit* buffer_;
    std::size_t capacity_;
    std::size_t count_ = 0;
};

inline constexpr char32_t kReplacementChar = 0xFFFD;

inline bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
inline bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Appends one Unicode scalar value as UTF-16 (a surrogate pair above U+FFFF).
[[nodiscard]] inline bool putUtf16(Output<char16_t>& out, char32_t cp) {
    if (cp < 0x10000) {
        return out.put(static_cast<char16_t>(cp));
    }
    const char16_t pair[2] = {static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)),
                              static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
    return out.put(std::span<const char16_t>(pair));
}

}  // namespace orva::platform
