#pragma once

// The maker's software algorithm library, QZAlgLib: the functions the token API
// library calls, with the types it calls them with. Each returns 0 on success
// unless its comment says otherwise.

#include <stdint.h>

#include "orva/export.h"

// Digest ids.
#define QZA_HASH_SHA1 4u
#define QZA_HASH_SHA256 5u
#define QZA_HASH_SHA384 6u
#define QZA_HASH_SHA512 7u
#define QZA_HASH_SM3 8u

// Key algorithm ids.
#define QZA_ALG_RSA 1u
#define QZA_ALG_RSA1024 2u
#define QZA_ALG_RSA2048 3u
#define QZA_ALG_SM2 10u

// The symmetric algorithm of file tokens: SM4 in ECB mode without padding,
// 16-byte blocks, keyed by the first 16 bytes of the key given.
#define QZA_SYMM_SM4_ECB 208u
#define QZA_SYMM_MODE_ENCRYPT 1u
#define QZA_SYMM_MODE_DECRYPT 2u

// Results.
#define QZA_OK 0
#define QZA_E_FAILED (-1)
#define QZA_E_NOT_SUPPORTED (-2)
#define QZA_E_BAD_ARGUMENT (-3)

// Standard base64 ("=" padding, no line breaks) of len bytes into out, which must
// hold 4 * ceil(len / 3) bytes; no NUL is written. Returns the number of
// characters written (non-zero) on success, 0 on failure (including len 0).
ORVA_API_ENTRY int32_t QZA_Base64_Encode(const uint8_t* data, uint32_t len, char* out);

// The digest of data with the given digest id into digest (QZA_GetHashValueSize bytes).
ORVA_API_ENTRY int32_t QZA_Hash(uint32_t alg, const uint8_t* data, uint32_t len, uint8_t* digest);

// A digest computed in pieces. Init makes a context for a digest id into
// *context; Update feeds it len bytes; Final writes the digest into digest,
// which has *digestLen bytes of room (the digest's size is written back), and
// ends the context whatever the outcome. Final with a null digest only ends it.
// An unknown or ended context is a bad argument.
ORVA_API_ENTRY int32_t QZA_Hash_Init(uint32_t alg, void** context);
ORVA_API_ENTRY int32_t QZA_Hash_Update(void* context, const uint8_t* data, uint32_t len);
ORVA_API_ENTRY int32_t QZA_Hash_Final(void* context, uint8_t* digest, uint32_t* digestLen);

// The size in bytes of a digest id's output; 0 for an unknown id.
ORVA_API_ENTRY int32_t QZA_GetHashValueSize(uint32_t alg);

// Z of an SM2 public key (X, Y) with the default user id "1234567812345678":
// SM3(ENTL || ID || a || b || Gx || Gy || X || Y), 32 bytes into z; *zLen is the
// room in z on entry and the length written on return.
ORVA_API_ENTRY int32_t QZA_SM3ZA(const uint8_t* x, uint32_t xLen, const uint8_t* y, uint32_t yLen,
                                 uint8_t* z, uint32_t* zLen);

// len random bytes.
ORVA_API_ENTRY int32_t QZA_Random(uint8_t* buffer, uint32_t len);

// The block size in bytes of a symmetric algorithm; 0 for an unknown one.
ORVA_API_ENTRY int32_t QZA_GetSymmBlockSize(uint32_t alg);

// Encrypts (mode 1) or decrypts (mode 2) inLen bytes, a multiple of the block
// size, into out (inLen bytes). keyLen must be at least the algorithm's key size
// (16 for 208); iv and ivLen are for chained modes and must be null and 0 here.
ORVA_API_ENTRY int32_t QZA_Encrypt(uint32_t alg, uint32_t mode, const uint8_t* key, uint32_t keyLen,
                                   uint32_t ivLen, const uint8_t* iv, const uint8_t* in,
                                   uint32_t inLen, uint8_t* out);

// The key size in bits of a key algorithm id: 1 and 2 give 1024, 3 gives 2048,
// 10 (SM2) gives 256, anything else 0.
ORVA_API_ENTRY int32_t QZA_GetAsymKeyBits(uint32_t alg);

// Decodes a DER certificate. Only the subject is produced: every other output must
// be null. The subject is written as "CN=...,OU=...,O=..." (the name's attributes
// from the most specific to the least, short names, joined by "," without blanks,
// values in UTF-8 without escaping), cut at a character boundary to at most 1023
// bytes, NUL-terminated, into a buffer of at least 1024 bytes. On failure the
// subject is the empty text and the result is non-zero.
ORVA_API_ENTRY int32_t QZA_DecodeX509Cert(const uint8_t* der, uint32_t derLen, char* version,
                                          char* serialNumber, char* signatureAlgorithm,
                                          char* issuer, char* notBefore, char* notAfter,
                                          char* subject, char* publicKeyAlgorithm,
                                          uint8_t* publicKey, uint32_t* publicKeyLen,
                                          uint32_t* keyUsage);
