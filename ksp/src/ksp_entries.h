#pragma once

// The 26 entries of the provider's function table, in its order. They are
// reached only through the table, never exported by name.

#include "win32/cng.h"

SECURITY_STATUS QZKSPOpenProvider(NCRYPT_PROV_HANDLE* phProvider, LPCWSTR pszProviderName,
                                  DWORD dwFlags);
SECURITY_STATUS QZKSPOpenKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
                             LPCWSTR pszKeyName, DWORD dwLegacyKeySpec, DWORD dwFlags);
SECURITY_STATUS QZKSPCreatePersistedKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
                                        LPCWSTR pszAlgId, LPCWSTR pszKeyName, DWORD dwLegacyKeySpec,
                                        DWORD dwFlags);
SECURITY_STATUS QZKSPGetProviderProperty(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszProperty,
                                         PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
                                         DWORD dwFlags);
SECURITY_STATUS QZKSPGetKeyProperty(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                    LPCWSTR pszProperty, PBYTE pbOutput, DWORD cbOutput,
                                    DWORD* pcbResult, DWORD dwFlags);
SECURITY_STATUS QZKSPSetProviderProperty(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszProperty,
                                         PBYTE pbInput, DWORD cbInput, DWORD dwFlags);
SECURITY_STATUS QZKSPSetKeyProperty(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                    LPCWSTR pszProperty, PBYTE pbInput, DWORD cbInput,
                                    DWORD dwFlags);
SECURITY_STATUS QZKSPFinalizeKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                 DWORD dwFlags);
SECURITY_STATUS QZKSPDeleteKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, DWORD dwFlags);
SECURITY_STATUS QZKSPFreeProvider(NCRYPT_PROV_HANDLE hProvider);
SECURITY_STATUS QZKSPFreeKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey);
SECURITY_STATUS QZKSPFreeBuffer(PVOID pvInput);
SECURITY_STATUS QZKSPEncrypt(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, PBYTE pbInput,
                             DWORD cbInput, void* pPaddingInfo, PBYTE pbOutput, DWORD cbOutput,
                             DWORD* pcbResult, DWORD dwFlags);
SECURITY_STATUS QZKSPDecrypt(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey, PBYTE pbInput,
                             DWORD cbInput, void* pPaddingInfo, PBYTE pbOutput, DWORD cbOutput,
                             DWORD* pcbResult, DWORD dwFlags);
SECURITY_STATUS QZKSPIsAlgSupported(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszAlgId, DWORD dwFlags);
SECURITY_STATUS QZKSPEnumAlgorithms(NCRYPT_PROV_HANDLE hProvider, DWORD dwAlgOperations,
                                    DWORD* pdwAlgCount, NCryptAlgorithmName** ppAlgList,
                                    DWORD dwFlags);
SECURITY_STATUS QZKSPEnumKeys(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszScope,
                              NCryptKeyName** ppKeyName, PVOID* ppEnumState, DWORD dwFlags);
SECURITY_STATUS QZKSPImportKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hImportKey,
                               LPCWSTR pszBlobType, NCryptBufferDesc* pParameterList,
                               NCRYPT_KEY_HANDLE* phKey, PBYTE pbData, DWORD cbData, DWORD dwFlags);
SECURITY_STATUS QZKSPExportKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                               NCRYPT_KEY_HANDLE hExportKey, LPCWSTR pszBlobType,
                               NCryptBufferDesc* pParameterList, PBYTE pbOutput, DWORD cbOutput,
                               DWORD* pcbResult, DWORD dwFlags);
SECURITY_STATUS QZKSPSignHash(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                              void* pPaddingInfo, PBYTE pbHashValue, DWORD cbHashValue,
                              PBYTE pbSignature, DWORD cbSignature, DWORD* pcbResult,
                              DWORD dwFlags);
SECURITY_STATUS QZKSPVerifySignature(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                     void* pPaddingInfo, PBYTE pbHashValue, DWORD cbHashValue,
                                     PBYTE pbSignature, DWORD cbSignature, DWORD dwFlags);
SECURITY_STATUS QZKSPPromptUser(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                LPCWSTR pszOperation, DWORD dwFlags);
SECURITY_STATUS QZKSPNotifyChangeKey(NCRYPT_PROV_HANDLE hProvider, HANDLE* phEvent, DWORD dwFlags);
SECURITY_STATUS QZKSPSecretAgreement(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hPrivKey,
                                     NCRYPT_KEY_HANDLE hPubKey,
                                     NCRYPT_SECRET_HANDLE* phAgreedSecret, DWORD dwFlags);
SECURITY_STATUS QZKSPDeriveKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_SECRET_HANDLE hSharedSecret,
                               LPCWSTR pwszKDF, NCryptBufferDesc* pParameterList,
                               PBYTE pbDerivedKey, DWORD cbDerivedKey, DWORD* pcbResult,
                               ULONG dwFlags);
SECURITY_STATUS QZKSPFreeSecret(NCRYPT_PROV_HANDLE hProvider, NCRYPT_SECRET_HANDLE hSharedSecret);
