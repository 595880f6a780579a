#pragma once

// A fuzz input read as a sequence of small decisions taken from its front:
// bytes, numbers and texts. An input that runs out gives zeros and empty
// texts, so every input decodes to some sequence of calls.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace orva::fuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) noexcept : rest_(data, size) {}

    bool empty() const noexcept { return rest_.empty(); }

    std::uint8_t byte() noexcept {
        if (rest_.empty()) {
            return 0;
        }
        const std::uint8_t value = rest_.front();
        rest_ = rest_.subspan(1);
        return value;
    }

    // Four bytes, little-endian.
    std::uint32_t u32() noexcept {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            value |= std::uint32_t{byte()} << shift;
        }
        return value;
    }

    // One of count choices (count > 0).
    std::size_t pick(std::size_t count) noexcept { return byte() % count; }

    // Up to limit bytes, ended by a NUL (taken, not returned) or the input's end.
    std::string text(std::size_t limit) {
        const std::size_t room = std::min(limit, rest_.size());
        const void* nul = std::memchr(rest_.data(), '\0', room);
        const std::size_t length =
            nul == nullptr
                ? room
                : static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - rest_.data());
        std::string out(reinterpret_cast<const char*>(rest_.data()), length);
        rest_ = rest_.subspan(nul == nullptr ? length : length + 1);
        return out;
    }

    // Up to count bytes, fewer where the input ends.
    std::span<const std::uint8_t> bytes(std::size_t count) noexcept {
        const std::size_t n = std::min(count, rest_.size());
        const auto out = rest_.first(n);
        rest_ = rest_.subspan(n);
        return out;
    }

  private:
    std::span<const std::uint8_t> rest_;
};

}  // namespace orva::fuzz
