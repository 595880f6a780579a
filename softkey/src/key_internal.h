#pragma once

// What key_crypto.cpp shares with envelope.cpp: reading and writing key pairs,
// and the SM2 numbers the layouts are made of. Not for use outside softkey_crypto.

#include <cstddef>
#include <span>

#include "key_crypto.h"
#include "orva/openssl_ptr.h"

namespace orva::softkey::detail {

inline constexpr std::size_t kSm2FieldSize = 32;  // bytes of a coordinate or the scalar

// Throws CryptoError with the reason and drops what OpenSSL queued about it.
[[noreturn]] void fail(const char* reason);
inline void check(bool ok, const char* reason) {
    if (!ok) {
        fail(reason);
    }
}

// A private key from PEM; never asks for a pass phrase.
EvpPkeyPtr loadPrivateKey(const SecureString& pem);

// A key pair as PKCS#8 PEM, through wiped memory only.
SecureString privateKeyPem(EVP_PKEY* key);

// Throws unless the key is an SM2 key on the SM2 curve.
void requireSm2(EVP_PKEY* key);

// The public point of an SM2 key as X || Y, each left-padded to 32 bytes.
Bytes sm2PublicXY(EVP_PKEY* key);

// The private scalar of an SM2 key, left-padded to 32 bytes.
SecureBytes sm2PrivateScalar(EVP_PKEY* key);

// A pointer OpenSSL accepts for a possibly empty input.
inline const unsigned char* bytesOf(std::span<const std::uint8_t> in) noexcept {
    static const unsigned char kNothing = 0;
    return in.empty() ? &kNothing : in.data();
}

}  // namespace orva::softkey::detail
