// Opening and freeing the provider.

#include <cstring>

#include "ksp_entries.h"
#include "ksp_internal.h"
#include "win32/system.h"

using namespace orva::ksp;

SECURITY_STATUS QZKSPOpenProvider(NCRYPT_PROV_HANDLE* phProvider, LPCWSTR pszProviderName,
                                  DWORD /*dwFlags*/) {
    if (phProvider == nullptr || pszProviderName == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    // The name with its NUL must stay below 64 KiB.
    const std::size_t chars = boundedLength(pszProviderName, 0x8000);
    const std::uint64_t nameBytes = (std::uint64_t{chars} + 1) * sizeof(WCHAR);
    if (nameBytes >= 0x10000) {
        return NTE_INVALID_PARAMETER;
    }
    const std::size_t size = sizeof(KspProvider) + static_cast<std::size_t>(nameBytes);
    auto* provider = static_cast<KspProvider*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (provider == nullptr) {
        return NTE_NO_MEMORY;
    }
    provider->size = static_cast<std::uint32_t>(size);
    provider->signature = KSP_PROVIDER_SIGNATURE;
    provider->name = reinterpret_cast<LPWSTR>(provider + 1);
    provider->useContext = nullptr;
    std::memcpy(provider->name, pszProviderName, static_cast<std::size_t>(nameBytes));
    if (!registerProvider(provider)) {
        HeapFree(GetProcessHeap(), 0, provider);
        return NTE_NO_MEMORY;
    }
    *phProvider = reinterpret_cast<NCRYPT_PROV_HANDLE>(provider);
    return 0;
}

SECURITY_STATUS QZKSPFreeProvider(NCRYPT_PROV_HANDLE hProvider) {
    if (!ValidateProviderHandle(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    KspProvider* provider = providerOf(hProvider);
    unregisterProvider(provider);
    HeapFree(GetProcessHeap(), 0, provider->useContext);
    std::memset(provider, 0, provider->size);
    HeapFree(GetProcessHeap(), 0, provider);
    return 0;
}
