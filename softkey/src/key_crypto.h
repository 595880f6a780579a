#pragma once

// The key's own cryptography: key pairs, the public-key layouts the key hands
// out, signatures and the encryption that envelopes use.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "secure_bytes.h"

namespace orva::softkey {

// Key algorithm ids as the token manager names them.
inline constexpr std::uint32_t kAlgRsa = 1;  // RSA-1024
inline constexpr std::uint32_t kAlgRsa1024 = 2;
inline constexpr std::uint32_t kAlgRsa2048 = 3;
inline constexpr std::uint32_t kAlgSm2 = 10;

// A failure of the key's cryptography (bad key, bad input, OpenSSL error).
struct CryptoError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct KeyPair {
    SecureString privatePem;  // PKCS#8 PEM
    Bytes publicFile;         // the public-key file's layout (publicKeyFile)
    Bytes generationBlock;    // what key generation hands back (generationBlock)
};

// A new key pair for an algorithm id (1 and 2 RSA-1024, 3 RSA-2048, 10 SM2; RSA
// with exponent 65537).
KeyPair generateKeyPair(std::uint32_t algId);

// The public-key file of a key pair (key sizes in bits, 2 bytes big-endian):
//   SM2 (68 bytes): 01 00 | X (32) | 01 00 | Y (32)
//   RSA (bits/8 + 7 bytes): bits | modulus | 00 | 03 | 01 00 01
Bytes publicKeyFile(const SecureString& privatePem);

// The block key generation hands back:
//   SM2 (68 bytes): 01 00 | X (32) | Y (32) | 00 00
//   RSA: the public-key file's layout.
Bytes generationBlock(const SecureString& privatePem);

// SM2 signature over a given 32-byte digest e (no further hashing): r || s, each 32 bytes.
Bytes sm2SignDigest(const SecureString& privatePem, std::span<const std::uint8_t> digest);

// SM2 signature over data: e = SM3(Z || data) with the default user id
// "1234567812345678"; r || s, each 32 bytes.
Bytes sm2SignData(const SecureString& privatePem, std::span<const std::uint8_t> data);

// RSA PKCS#1 v1.5 signature over data hashed with a digest id (4 SHA-1, 5 SHA-256,
// 6 SHA-384, 7 SHA-512, 8 SM3); modulus-size bytes.
Bytes rsaSignData(const SecureString& privatePem, std::uint32_t hashId,
                  std::span<const std::uint8_t> data);

// Encryption to a key pair's public key (SM2 encryption, DER; RSA PKCS#1 v1.5) and
// its inverse with the private key; envelopes carry their session key this way.
Bytes encryptToPublicKey(const SecureString& privatePemOrPublicPem,
                         std::span<const std::uint8_t> plain);
SecureBytes decryptWithPrivateKey(const SecureString& privatePem,
                                  std::span<const std::uint8_t> cipher);

// The public half of a key pair as PEM (SubjectPublicKeyInfo).
std::string publicKeyPem(const SecureString& privatePem);

// The algorithm id of a stored key pair (2, 3 or 10).
std::uint32_t algorithmOf(const SecureString& privatePem);

}  // namespace orva::softkey
