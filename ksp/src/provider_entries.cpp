// Opening and freeing the provider.

#include "ksp_entries.h"
#include "ksp_internal.h"

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
    const NCRYPT_PROV_HANDLE handle =
        addProvider(std::make_unique<KspProvider>(std::u16string_view(pszProviderName, chars)));
    if (handle == 0) {
        return NTE_NO_MEMORY;
    }
    *phProvider = handle;
    return 0;
}

// Keys opened through the provider stay open: they do not depend on it.
SECURITY_STATUS QZKSPFreeProvider(NCRYPT_PROV_HANDLE hProvider) {
    return removeProvider(hProvider) ? 0 : NTE_INVALID_HANDLE;
}
