#pragma once

// The one way secrets are wiped: a store the compiler may not drop.
// Users link orva_openssl.

#include <openssl/crypto.h>

#include <cstddef>

namespace orva {

inline void cleanse(void* data, std::size_t size) noexcept {
    if (data != nullptr && size != 0) {
        OPENSSL_cleanse(data, size);
    }
}

}  // namespace orva
