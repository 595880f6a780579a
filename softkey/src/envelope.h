#pragma once

// The envelope a bank's server sends to install an encryption key pair on the key:
// three parts as the token manager's import takes them.
//   A: a fresh 16-byte session key, encrypted to the public key of the key's
//      signature key pair (SM2 encryption, DER; RSA PKCS#1 v1.5)
//   B: the new SM2 private scalar (32) || X (32) || Y (32), encrypted under the
//      session key with SM4: algorithm word 208 ECB, 210 CBC with a zero IV
//   C: the new key's size in bits, 4 bytes big-endian (256)

#include <cstdint>
#include <span>

#include "key_crypto.h"

namespace orva::softkey {

inline constexpr std::uint32_t kEnvelopeSm4Ecb = 208;
inline constexpr std::uint32_t kEnvelopeSm4Cbc = 210;

struct Envelope {
    Bytes sessionKey;  // A
    Bytes keyPair;     // B
    Bytes keyBits;     // C
};

// Seals a new SM2 key pair (PKCS#8 PEM) for the holder of the signature key whose
// public key is given (PEM, SubjectPublicKeyInfo).
Envelope sealEnvelope(const std::string& signaturePublicPem, std::uint32_t algorithmWord,
                      const SecureString& newKeyPem);

// Opens an envelope with the signature private key; the new key pair as PKCS#8 PEM.
// Throws CryptoError when any part is malformed or does not decrypt, or when the
// scalar and the point do not belong together.
SecureString openEnvelope(const SecureString& signaturePrivatePem, std::uint32_t algorithmWord,
                          std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                          std::span<const std::uint8_t> c);

}  // namespace orva::softkey
