#pragma once

// Reading a fuzz input as a sequence of small fields. Past the end every
// field reads as zero bytes, so any input decodes to something.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace orva::fuzz {

class InputReader {
  public:
    InputReader(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    bool empty() const noexcept { return offset_ >= size_; }

    std::uint8_t byte() noexcept { return empty() ? 0 : data_[offset_++]; }

    // Little-endian, of sizeof(T) bytes.
    template <class T>
    T number() noexcept {
        unsigned char bytes[sizeof(T)] = {};
        for (unsigned char& b : bytes) {
            b = byte();
        }
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    // One of count choices (count > 0).
    std::size_t pick(std::size_t count) noexcept { return byte() % count; }

    // Up to limit bytes, ended by a NUL (taken, not returned) or the input's end.
    std::string_view text(std::size_t limit) noexcept {
        const std::size_t room = empty() ? 0 : std::min(limit, size_ - offset_);
        // The replay hands an empty input as a null pointer, which memchr must not see.
        const void* nul = room == 0 ? nullptr : std::memchr(data_ + offset_, '\0', room);
        const std::size_t length =
            nul == nullptr ? room
                           : static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) -
                                                      (data_ + offset_));
        const std::string_view out(reinterpret_cast<const char*>(data_) + offset_, length);
        offset_ += nul == nullptr ? length : length + 1;
        return out;
    }

    // Up to count bytes, fewer when the input ends.
    std::string_view bytes(std::size_t count) noexcept {
        const std::size_t taken = empty() ? 0 : std::min(count, size_ - offset_);
        const std::string_view out(reinterpret_cast<const char*>(data_) + offset_, taken);
        offset_ += taken;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

// A failed check of a fuzz target: a crash the fuzzer reports.
inline void check(bool condition) noexcept {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace orva::fuzz
