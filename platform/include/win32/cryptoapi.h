#pragma once

// CryptoAPI as a cryptographic service provider module implements it: handle
// types, the 25 CP entry points by their published argument lists, the
// parameter and flag values, and the blob layouts the product exchanges.

#include "win32/security_status.h"
#include "win32/types.h"

typedef uint32_t ALG_ID;
typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTKEY;
typedef ULONG_PTR HCRYPTHASH;

// What the system hands a module at CPAcquireContext; the product passes null.
typedef struct _VTableProvStruc VTableProvStruc, *PVTableProvStruc;

#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_DELETEKEYSET 0x00000010u
#define CRYPT_SILENT 0x00000040u

#define CRYPT_FIRST 1u
#define CRYPT_NEXT 2u

#define AT_KEYEXCHANGE 1u
#define AT_SIGNATURE 2u

#define PP_ENUMALGS 1u
#define PP_ENUMCONTAINERS 2u
#define PP_ENUMALGS_EX 22u

#define KP_KEYLEN 9u
#define KP_CERTIFICATE 26u

#define HP_HASHVAL 2u

#define PUBLICKEYBLOB 6u
#define CUR_BLOB_VERSION 2u

#define CALG_MD5 0x00008003u
#define CALG_SHA1 0x00008004u
#define CALG_SSL3_SHAMD5 0x00008008u
#define CALG_SHA_256 0x0000800Cu
#define CALG_SHA_384 0x0000800Du
#define CALG_SHA_512 0x0000800Eu
#define CALG_RSA_SIGN 0x00002400u
#define CALG_RSA_KEYX 0x0000A400u

// CPGenKey: the key length in bits sits in the upper 16 bits of the flags.
#define RSA1024BIT_KEY 0x04000000u

typedef struct _PUBLICKEYSTRUC {
    BYTE bType;
    BYTE bVersion;
    WORD reserved;
    ALG_ID aiKeyAlg;
} BLOBHEADER, PUBLICKEYSTRUC;

typedef struct _RSAPUBKEY {
    DWORD magic;  // "RSA1"
    DWORD bitlen;
    DWORD pubexp;
} RSAPUBKEY;

#define RSA1_MAGIC 0x31415352u

// One record of a PP_ENUMALGS_EX walk.
typedef struct _PROV_ENUMALGS_EX {
    ALG_ID aiAlgid;
    DWORD dwDefaultLen;
    DWORD dwMinLen;
    DWORD dwMaxLen;
    DWORD dwProtocols;
    DWORD dwNameLen;
    CHAR szName[20];
    DWORD dwLongNameLen;
    CHAR szLongName[40];
} PROV_ENUMALGS_EX;

#ifdef __cplusplus
static_assert(sizeof(BLOBHEADER) == 8);
static_assert(sizeof(RSAPUBKEY) == 12);
static_assert(sizeof(PROV_ENUMALGS_EX) == 88);
#endif

// The CSP entry points. Each answers TRUE, or FALSE with the reason in the
// thread's last error.
typedef BOOL (*PFN_CPAcquireContext)(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags,
                                     PVTableProvStruc pVTable);
typedef BOOL (*PFN_CPReleaseContext)(HCRYPTPROV hProv, DWORD dwFlags);
typedef BOOL (*PFN_CPGenKey)(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
typedef BOOL (*PFN_CPDeriveKey)(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hHash, DWORD dwFlags,
                                HCRYPTKEY* phKey);
typedef BOOL (*PFN_CPDestroyKey)(HCRYPTPROV hProv, HCRYPTKEY hKey);
typedef BOOL (*PFN_CPSetKeyParam)(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam,
                                  const BYTE* pbData, DWORD dwFlags);
typedef BOOL (*PFN_CPGetKeyParam)(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                                  DWORD* pcbDataLen, DWORD dwFlags);
typedef BOOL (*PFN_CPExportKey)(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey,
                                DWORD dwBlobType, DWORD dwFlags, BYTE* pbData, DWORD* pcbDataLen);
typedef BOOL (*PFN_CPImportKey)(HCRYPTPROV hProv, const BYTE* pbData, DWORD cbDataLen,
                                HCRYPTKEY hPubKey, DWORD dwFlags, HCRYPTKEY* phKey);
typedef BOOL (*PFN_CPEncrypt)(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal,
                              DWORD dwFlags, BYTE* pbData, DWORD* pcbDataLen, DWORD cbBufLen);
typedef BOOL (*PFN_CPDecrypt)(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal,
                              DWORD dwFlags, BYTE* pbData, DWORD* pcbDataLen);
typedef BOOL (*PFN_CPCreateHash)(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                 HCRYPTHASH* phHash);
typedef BOOL (*PFN_CPHashData)(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData,
                               DWORD cbDataLen, DWORD dwFlags);
typedef BOOL (*PFN_CPHashSessionKey)(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey,
                                     DWORD dwFlags);
typedef BOOL (*PFN_CPDestroyHash)(HCRYPTPROV hProv, HCRYPTHASH hHash);
typedef BOOL (*PFN_CPSignHash)(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec,
                               LPCWSTR szDescription, DWORD dwFlags, BYTE* pbSignature,
                               DWORD* pcbSigLen);
typedef BOOL (*PFN_CPVerifySignature)(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature,
                                      DWORD cbSigLen, HCRYPTKEY hPubKey, LPCWSTR szDescription,
                                      DWORD dwFlags);
typedef BOOL (*PFN_CPGenRandom)(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);
typedef BOOL (*PFN_CPGetUserKey)(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
typedef BOOL (*PFN_CPSetProvParam)(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData,
                                   DWORD dwFlags);
typedef BOOL (*PFN_CPGetProvParam)(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pcbDataLen,
                                   DWORD dwFlags);
typedef BOOL (*PFN_CPSetHashParam)(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam,
                                   const BYTE* pbData, DWORD dwFlags);
typedef BOOL (*PFN_CPGetHashParam)(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                                   DWORD* pcbDataLen, DWORD dwFlags);
typedef BOOL (*PFN_CPDuplicateHash)(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD* pdwReserved,
                                    DWORD dwFlags, HCRYPTHASH* phHash);
typedef BOOL (*PFN_CPDuplicateKey)(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD* pdwReserved,
                                   DWORD dwFlags, HCRYPTKEY* phKey);
