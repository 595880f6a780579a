#pragma once

// CNG key storage: the function table a key storage provider hands the
// router, by the published argument lists of its members, with the
// structures, names and flag values those members exchange.

#include "win32/security_status.h"
#include "win32/types.h"

typedef ULONG_PTR NCRYPT_HANDLE;
typedef ULONG_PTR NCRYPT_PROV_HANDLE;
typedef ULONG_PTR NCRYPT_KEY_HANDLE;
typedef ULONG_PTR NCRYPT_SECRET_HANDLE;
typedef BYTE* PBYTE;
typedef void* PVOID;

// Parameter lists are passed through, never read.
typedef struct _NCryptBufferDesc NCryptBufferDesc;

typedef struct _BCRYPT_INTERFACE_VERSION {
    USHORT MajorVersion;
    USHORT MinorVersion;
} BCRYPT_INTERFACE_VERSION;

typedef struct _NCryptAlgorithmName {
    LPWSTR pszName;
    DWORD dwClass;
    DWORD dwAlgOperations;
    DWORD dwFlags;
} NCryptAlgorithmName;

typedef struct NCryptKeyName {
    LPWSTR pszName;
    LPWSTR pszAlgid;
    DWORD dwLegacyKeySpec;
    DWORD dwFlags;
} NCryptKeyName;

typedef struct __NCRYPT_SUPPORTED_LENGTHS {
    DWORD dwMinLength;
    DWORD dwMaxLength;
    DWORD dwIncrement;
    DWORD dwDefaultLength;
} NCRYPT_SUPPORTED_LENGTHS;

typedef struct _BCRYPT_PKCS1_PADDING_INFO {
    LPCWSTR pszAlgId;
} BCRYPT_PKCS1_PADDING_INFO;

typedef struct _BCRYPT_PSS_PADDING_INFO {
    LPCWSTR pszAlgId;
    ULONG cbSalt;
} BCRYPT_PSS_PADDING_INFO;

// Public key blobs: the header, then the values big-endian.
typedef struct _BCRYPT_RSAKEY_BLOB {
    ULONG Magic;
    ULONG BitLength;
    ULONG cbPublicExp;
    ULONG cbModulus;
    ULONG cbPrime1;
    ULONG cbPrime2;
} BCRYPT_RSAKEY_BLOB;

typedef struct _BCRYPT_ECCKEY_BLOB {
    ULONG dwMagic;
    ULONG cbKey;
} BCRYPT_ECCKEY_BLOB;

#define BCRYPT_RSAPUBLIC_MAGIC 0x31415352u
#define BCRYPT_ECDSA_PUBLIC_P256_MAGIC 0x31534345u
#define BCRYPT_ECDSA_PUBLIC_P384_MAGIC 0x33534345u

typedef SECURITY_STATUS (*NCRYPT_OPEN_PROVIDER_FN)(NCRYPT_PROV_HANDLE* phProvider,
                                                   LPCWSTR pszProviderName, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_OPEN_KEY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                              NCRYPT_KEY_HANDLE* phKey, LPCWSTR pszKeyName,
                                              DWORD dwLegacyKeySpec, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_CREATE_PERSISTED_KEY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                          NCRYPT_KEY_HANDLE* phKey,
                                                          LPCWSTR pszAlgId, LPCWSTR pszKeyName,
                                                          DWORD dwLegacyKeySpec, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_GET_PROVIDER_PROPERTY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                           LPCWSTR pszProperty, PBYTE pbOutput,
                                                           DWORD cbOutput, DWORD* pcbResult,
                                                           DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_GET_KEY_PROPERTY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                      NCRYPT_KEY_HANDLE hKey, LPCWSTR pszProperty,
                                                      PBYTE pbOutput, DWORD cbOutput,
                                                      DWORD* pcbResult, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_SET_PROVIDER_PROPERTY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                           LPCWSTR pszProperty, PBYTE pbInput,
                                                           DWORD cbInput, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_SET_KEY_PROPERTY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                      NCRYPT_KEY_HANDLE hKey, LPCWSTR pszProperty,
                                                      PBYTE pbInput, DWORD cbInput, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_FINALIZE_KEY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                  NCRYPT_KEY_HANDLE hKey, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_DELETE_KEY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                NCRYPT_KEY_HANDLE hKey, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_FREE_PROVIDER_FN)(NCRYPT_PROV_HANDLE hProvider);
typedef SECURITY_STATUS (*NCRYPT_FREE_KEY_FN)(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey);
typedef SECURITY_STATUS (*NCRYPT_FREE_BUFFER_FN)(PVOID pvInput);
typedef SECURITY_STATUS (*NCRYPT_ENCRYPT_FN)(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                             PBYTE pbInput, DWORD cbInput, void* pPaddingInfo,
                                             PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
                                             DWORD dwFlags);
typedef NCRYPT_ENCRYPT_FN NCRYPT_DECRYPT_FN;
typedef SECURITY_STATUS (*NCRYPT_IS_ALG_SUPPORTED_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                      LPCWSTR pszAlgId, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_ENUM_ALGORITHMS_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                     DWORD dwAlgOperations, DWORD* pdwAlgCount,
                                                     NCryptAlgorithmName** ppAlgList,
                                                     DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_ENUM_KEYS_FN)(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszScope,
                                               NCryptKeyName** ppKeyName, PVOID* ppEnumState,
                                               DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_IMPORT_KEY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                NCRYPT_KEY_HANDLE hImportKey, LPCWSTR pszBlobType,
                                                NCryptBufferDesc* pParameterList,
                                                NCRYPT_KEY_HANDLE* phKey, PBYTE pbData,
                                                DWORD cbData, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_EXPORT_KEY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                NCRYPT_KEY_HANDLE hKey,
                                                NCRYPT_KEY_HANDLE hExportKey, LPCWSTR pszBlobType,
                                                NCryptBufferDesc* pParameterList, PBYTE pbOutput,
                                                DWORD cbOutput, DWORD* pcbResult, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_SIGN_HASH_FN)(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                               void* pPaddingInfo, PBYTE pbHashValue,
                                               DWORD cbHashValue, PBYTE pbSignature,
                                               DWORD cbSignature, DWORD* pcbResult, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_VERIFY_SIGNATURE_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                      NCRYPT_KEY_HANDLE hKey, void* pPaddingInfo,
                                                      PBYTE pbHashValue, DWORD cbHashValue,
                                                      PBYTE pbSignature, DWORD cbSignature,
                                                      DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_PROMPT_USER_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                 NCRYPT_KEY_HANDLE hKey, LPCWSTR pszOperation,
                                                 DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_NOTIFY_CHANGE_KEY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                       HANDLE* phEvent, DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_SECRET_AGREEMENT_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                      NCRYPT_KEY_HANDLE hPrivKey,
                                                      NCRYPT_KEY_HANDLE hPubKey,
                                                      NCRYPT_SECRET_HANDLE* phAgreedSecret,
                                                      DWORD dwFlags);
typedef SECURITY_STATUS (*NCRYPT_DERIVE_KEY_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                NCRYPT_SECRET_HANDLE hSharedSecret, LPCWSTR pwszKDF,
                                                NCryptBufferDesc* pParameterList,
                                                PBYTE pbDerivedKey, DWORD cbDerivedKey,
                                                DWORD* pcbResult, ULONG dwFlags);
typedef SECURITY_STATUS (*NCRYPT_FREE_SECRET_FN)(NCRYPT_PROV_HANDLE hProvider,
                                                 NCRYPT_SECRET_HANDLE hSharedSecret);

typedef struct _NCRYPT_KEY_STORAGE_FUNCTION_TABLE {
    BCRYPT_INTERFACE_VERSION Version;
    NCRYPT_OPEN_PROVIDER_FN OpenProvider;
    NCRYPT_OPEN_KEY_FN OpenKey;
    NCRYPT_CREATE_PERSISTED_KEY_FN CreatePersistedKey;
    NCRYPT_GET_PROVIDER_PROPERTY_FN GetProviderProperty;
    NCRYPT_GET_KEY_PROPERTY_FN GetKeyProperty;
    NCRYPT_SET_PROVIDER_PROPERTY_FN SetProviderProperty;
    NCRYPT_SET_KEY_PROPERTY_FN SetKeyProperty;
    NCRYPT_FINALIZE_KEY_FN FinalizeKey;
    NCRYPT_DELETE_KEY_FN DeleteKey;
    NCRYPT_FREE_PROVIDER_FN FreeProvider;
    NCRYPT_FREE_KEY_FN FreeKey;
    NCRYPT_FREE_BUFFER_FN FreeBuffer;
    NCRYPT_ENCRYPT_FN Encrypt;
    NCRYPT_DECRYPT_FN Decrypt;
    NCRYPT_IS_ALG_SUPPORTED_FN IsAlgSupported;
    NCRYPT_ENUM_ALGORITHMS_FN EnumAlgorithms;
    NCRYPT_ENUM_KEYS_FN EnumKeys;
    NCRYPT_IMPORT_KEY_FN ImportKey;
    NCRYPT_EXPORT_KEY_FN ExportKey;
    NCRYPT_SIGN_HASH_FN SignHash;
    NCRYPT_VERIFY_SIGNATURE_FN VerifySignature;
    NCRYPT_PROMPT_USER_FN PromptUser;
    NCRYPT_NOTIFY_CHANGE_KEY_FN NotifyChangeKey;
    NCRYPT_SECRET_AGREEMENT_FN SecretAgreement;
    NCRYPT_DERIVE_KEY_FN DeriveKey;
    NCRYPT_FREE_SECRET_FN FreeSecret;
} NCRYPT_KEY_STORAGE_FUNCTION_TABLE;

// The provider library's one export.
typedef NTSTATUS (*GetKeyStorageInterfaceFn)(LPCWSTR pszProviderName,
                                             NCRYPT_KEY_STORAGE_FUNCTION_TABLE** ppFunctionTable,
                                             DWORD dwFlags);

#ifdef __cplusplus
static_assert(sizeof(BCRYPT_INTERFACE_VERSION) == 4);
static_assert(sizeof(NCRYPT_KEY_STORAGE_FUNCTION_TABLE) == 8 + 26 * sizeof(void*));
static_assert(sizeof(NCryptAlgorithmName) == 24);
static_assert(sizeof(NCryptKeyName) == 24);
static_assert(sizeof(NCRYPT_SUPPORTED_LENGTHS) == 16);
static_assert(sizeof(BCRYPT_RSAKEY_BLOB) == 24);
static_assert(sizeof(BCRYPT_ECCKEY_BLOB) == 8);
#endif

// Flags.
#define NCRYPT_NO_KEY_VALIDATION 0x00000008u
#define NCRYPT_MACHINE_KEY_FLAG 0x00000020u
#define NCRYPT_SILENT_FLAG 0x00000040u
#define NCRYPT_OVERWRITE_KEY_FLAG 0x00000080u
#define NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG 0x00000200u
#define NCRYPT_EXPORT_LEGACY_FLAG 0x00000800u
#define NCRYPT_PERSIST_ONLY_FLAG 0x40000000u
#define NCRYPT_NO_PADDING_FLAG 0x00000001u
#define NCRYPT_PAD_PKCS1_FLAG 0x00000002u
#define NCRYPT_PAD_OAEP_FLAG 0x00000004u
#define BCRYPT_PAD_PKCS1 0x00000002u
#define BCRYPT_PAD_PSS 0x00000008u
#define KDF_USE_SECRET_AS_HMAC_KEY_FLAG 0x00000001u

#define OWNER_SECURITY_INFORMATION 0x00000001u
#define GROUP_SECURITY_INFORMATION 0x00000002u
#define DACL_SECURITY_INFORMATION 0x00000004u
#define SACL_SECURITY_INFORMATION 0x00000008u
#define LABEL_SECURITY_INFORMATION 0x00000010u

#define NCRYPT_IMPL_HARDWARE_FLAG 0x00000001u
#define NCRYPT_IMPL_REMOVABLE_FLAG 0x00000008u

// Algorithm classes and operations.
#define NCRYPT_ASYMMETRIC_ENCRYPTION_INTERFACE 3u
#define NCRYPT_SECRET_AGREEMENT_INTERFACE 4u
#define NCRYPT_SIGNATURE_INTERFACE 5u
#define NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION 0x00000004u
#define NCRYPT_SECRET_AGREEMENT_OPERATION 0x00000008u
#define NCRYPT_SIGNATURE_OPERATION 0x00000010u
