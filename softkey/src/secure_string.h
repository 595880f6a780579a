#pragma once

// Secret text, wiped whatever its length.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "orva/cleanse.h"
#include "wiping_allocator.h"

namespace orva::softkey {

// Text that holds a secret: a PIN, a private key's PEM, a key file. A
// std::string keeps a short text inside the object, where no allocator sees
// it, and leaves copies there when it grows or is moved from. This keeps every
// character in blocks of the wiping allocator, and a block it outgrows is wiped
// as it goes, so a six-digit PIN is wiped as surely as a key.
class SecureString {
  public:
    SecureString() noexcept = default;
    // Implicit, as std::string's is.
    SecureString(const char* text) : SecureString(std::string_view(text)) {}
    SecureString(const char* text, std::size_t size) { append(text, size); }
    explicit SecureString(std::string_view text) : SecureString(text.data(), text.size()) {}
    template <std::contiguous_iterator It>
    requires(sizeof(std::iter_value_t<It>) == 1) SecureString(It first, It last)
        : SecureString(reinterpret_cast<const char*>(std::to_address(first)),
                       static_cast<std::size_t>(last - first)) {}

    const char* data() const noexcept { return chars_.empty() ? "" : chars_.data(); }
    const char* c_str() const noexcept { return data(); }
    std::size_t size() const noexcept { return chars_.empty() ? 0 : chars_.size() - 1; }
    bool empty() const noexcept { return size() == 0; }
    const char* begin() const noexcept { return data(); }
    const char* end() const noexcept { return data() + size(); }
    // As std::string's: the text where a string_view is taken.
    operator std::string_view() const noexcept { return {data(), size()}; }

    void assign(const char* text, std::size_t size) { *this = SecureString(text, size); }
    void append(const char* text, std::size_t size);
    void push_back(char c) { append(&c, 1); }
    void clear() noexcept {
        cleanse(chars_.data(), chars_.size());
        chars_.clear();
    }

    friend bool operator==(const SecureString& a, const SecureString& b) noexcept {
        return std::string_view(a) == std::string_view(b);
    }

  private:
    // The characters and their NUL; no block at all while nothing was stored.
    std::vector<char, WipingAllocator<char>> chars_;
};

inline void SecureString::append(const char* text, std::size_t size) {
    if (size == 0) {
        return;
    }
    const std::size_t length = this->size();
    if (size > chars_.max_size() - length - 1) {
        throw std::length_error("secret text too long");
    }
    const std::size_t needed = length + size + 1;
    if (needed > chars_.capacity()) {
        // A new block; the old one, where text may lie, is wiped once copied.
        std::vector<char, WipingAllocator<char>> grown;
        grown.reserve(std::max(needed, std::min(chars_.max_size(), 2 * chars_.capacity())));
        grown.insert(grown.end(), chars_.data(), chars_.data() + length);
        grown.insert(grown.end(), text, text + size);
        grown.push_back('\0');
        chars_.swap(grown);
        return;
    }
    // The block stays put, so text stays valid while it is copied.
    chars_.resize(needed);
    std::memmove(chars_.data() + length, text, size);
    chars_.back() = '\0';
}

}  // namespace orva::softkey
