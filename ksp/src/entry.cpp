// The provider's export, its function table, and the entries that carry
// out nothing.

#include <new>

#include "ksp_entries.h"
#include "ksp_internal.h"

using namespace orva::ksp;

namespace {

// The value GetKeyStorageInterface answers when the algorithm walk failed;
// the table is handed out all the same.
constexpr NTSTATUS kCacheNotFilled = 5;

// What the router calls: the entry, with nothing thrown crossing into the
// router (a failed allocation is NTE_NO_MEMORY).
template <auto Entry>
struct Guarded;

template <typename... Args, SECURITY_STATUS (*Entry)(Args...)>
struct Guarded<Entry> {
    static SECURITY_STATUS call(Args... args) noexcept {
        try {
            return Entry(args...);
        } catch (const std::bad_alloc&) {
            return NTE_NO_MEMORY;
        } catch (...) {
            return NTE_INTERNAL_ERROR;
        }
    }
};

NCRYPT_KEY_STORAGE_FUNCTION_TABLE KspFunctionTable = {
    {1, 0},
    Guarded<QZKSPOpenProvider>::call,
    Guarded<QZKSPOpenKey>::call,
    Guarded<QZKSPCreatePersistedKey>::call,
    Guarded<QZKSPGetProviderProperty>::call,
    Guarded<QZKSPGetKeyProperty>::call,
    Guarded<QZKSPSetProviderProperty>::call,
    Guarded<QZKSPSetKeyProperty>::call,
    Guarded<QZKSPFinalizeKey>::call,
    Guarded<QZKSPDeleteKey>::call,
    Guarded<QZKSPFreeProvider>::call,
    Guarded<QZKSPFreeKey>::call,
    Guarded<QZKSPFreeBuffer>::call,
    Guarded<QZKSPEncrypt>::call,
    Guarded<QZKSPDecrypt>::call,
    Guarded<QZKSPIsAlgSupported>::call,
    Guarded<QZKSPEnumAlgorithms>::call,
    Guarded<QZKSPEnumKeys>::call,
    Guarded<QZKSPImportKey>::call,
    Guarded<QZKSPExportKey>::call,
    Guarded<QZKSPSignHash>::call,
    Guarded<QZKSPVerifySignature>::call,
    Guarded<QZKSPPromptUser>::call,
    Guarded<QZKSPNotifyChangeKey>::call,
    Guarded<QZKSPSecretAgreement>::call,
    Guarded<QZKSPDeriveKey>::call,
    Guarded<QZKSPFreeSecret>::call,
};

}  // namespace

ORVA_API_ENTRY NTSTATUS GetKeyStorageInterface(LPCWSTR /*pszProviderName*/,
                                               NCRYPT_KEY_STORAGE_FUNCTION_TABLE** ppFunctionTable,
                                               DWORD /*dwFlags*/) {
    if (ppFunctionTable == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *ppFunctionTable = &KspFunctionTable;
    try {
        return LoadAlgorithmCache() ? 0 : kCacheNotFilled;
    } catch (...) {
        return kCacheNotFilled;
    }
}

// Importing is not offered; the answer is the Win32 code callers know.
SECURITY_STATUS QZKSPImportKey(NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE, LPCWSTR, NCryptBufferDesc*,
                               NCRYPT_KEY_HANDLE*, PBYTE, DWORD, DWORD) {
    return ERROR_NOT_SUPPORTED;
}

SECURITY_STATUS QZKSPPromptUser(NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE, LPCWSTR, DWORD) {
    return NTE_NOT_SUPPORTED;
}

SECURITY_STATUS QZKSPNotifyChangeKey(NCRYPT_PROV_HANDLE, HANDLE*, DWORD) {
    return NTE_NOT_SUPPORTED;
}

SECURITY_STATUS QZKSPSecretAgreement(NCRYPT_PROV_HANDLE, NCRYPT_KEY_HANDLE, NCRYPT_KEY_HANDLE,
                                     NCRYPT_SECRET_HANDLE*, DWORD) {
    return NTE_NOT_SUPPORTED;
}

// No secret can exist (secret agreement is not offered), so nothing is ever
// derived; the arguments are still checked as callers expect.
SECURITY_STATUS QZKSPDeriveKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_SECRET_HANDLE, LPCWSTR,
                               NCryptBufferDesc*, PBYTE pbDerivedKey, DWORD, DWORD* pcbResult,
                               ULONG dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    if (dwFlags != 0 && dwFlags != KDF_USE_SECRET_AS_HMAC_KEY_FLAG) {
        return NTE_INVALID_PARAMETER;
    }
    if (pbDerivedKey == nullptr && pcbResult == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    return NTE_NOT_SUPPORTED;
}

SECURITY_STATUS QZKSPFreeSecret(NCRYPT_PROV_HANDLE, NCRYPT_SECRET_HANDLE) {
    return NTE_NOT_SUPPORTED;
}
