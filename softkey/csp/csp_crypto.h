#pragma once

// qzcore3's key cryptography over OpenSSL: RSA (1,024, 2,048, 4,096 bits) and
// EC (P-256, P-384) key pairs, hash signatures, RSA PKCS#1 v1.5 encryption
// and public-key blobs, in CryptoAPI's byte orders: signatures and
// ciphertexts leave and enter little-endian, hashes and plaintexts keep theirs.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>

#include "orva/openssl_ptr.h"
#include "secure_bytes.h"

namespace orva::qzcore3 {

using softkey::Bytes;
using softkey::SecureBytes;
using softkey::SecureString;

// A CryptoAPI failure: the last error the entry point leaves.
struct CspError : std::runtime_error {
    explicit CspError(std::int32_t code) : std::runtime_error("CSP failure"), code(code) {}
    std::int32_t code;
};

enum class KeyKind { rsa, ec };

// A loaded key pair with what the entries ask of it.
struct KeyPair {
    EvpPkeyPtr pkey;
    KeyKind kind = KeyKind::rsa;
    std::uint32_t bits = 0;
};

// CPGenKey's flags: bits 16-29 the length (0 the default), bit 30 EC.
KeyPair generateKey(std::uint32_t genKeyFlags);
KeyPair loadPrivateKey(const SecureString& pem);
SecureString privateKeyPem(const KeyPair& key);

// The digest length of a hash ALG_ID, or 0 when the ALG_ID is not one.
std::size_t hashLength(std::uint32_t algId) noexcept;

// Signature over a hash, little-endian: RSA PKCS#1 v1.5 (or PSS with MGF1 and
// a salt of the hash's length), EC reverse(r || s) each padded to the field.
Bytes signHash(const KeyPair& key, std::uint32_t hashAlg, std::span<const std::uint8_t> hash,
               bool pss);
// False on a signature that does not match.
bool verifyHash(const KeyPair& key, std::uint32_t hashAlg, std::span<const std::uint8_t> hash,
                std::span<const std::uint8_t> signatureLe, bool pss);

// The modulus length in bytes.
std::size_t modulusBytes(const KeyPair& key);
// PKCS#1 v1.5 to the public key, little-endian out.
Bytes rsaEncrypt(const KeyPair& key, std::span<const std::uint8_t> plaintext);
// Little-endian ciphertext in; NTE_BAD_DATA when it does not decrypt.
SecureBytes rsaDecrypt(const KeyPair& key, std::span<const std::uint8_t> ciphertextLe);

// Public-key blobs: 6 (PUBLICKEYBLOB, RSA; aiKeyAlg by the key's keySpec),
// 13 (RSA public, big-endian values), 14 (ECC public).
Bytes exportPublicBlob(const KeyPair& key, std::uint32_t blobType, std::uint32_t keySpec);

// Whether a certificate's public key is this key's.
bool certificateMatches(const KeyPair& key, X509* certificate);

}  // namespace orva::qzcore3
