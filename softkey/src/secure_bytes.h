#pragma once

#include <openssl/crypto.h>

#include <cstdint>
#include <string>
#include <vector>

#include "orva/bytes.h"

namespace orva::softkey {

using orva::Bytes;

// An allocator that wipes what it held before giving it back.
template <typename T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        OPENSSL_cleanse(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <typename U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

// PINs, private keys and session keys live in these.
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;
using SecureString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

}  // namespace orva::softkey
