// The algorithm cache, and enumeration of algorithms and keys.

#include <array>
#include <cstring>

#include "ksp_entries.h"
#include "ksp_internal.h"
#include "win32/system.h"

using namespace orva::ksp;

namespace orva::ksp {

namespace {

constexpr std::size_t kCacheRecords = 64;
constexpr DWORD kVerifyFlags = CRYPT_VERIFYCONTEXT | CRYPT_SILENT;
constexpr std::uint32_t kEnumKeysFlags = NCRYPT_MACHINE_KEY_FLAG | NCRYPT_SILENT_FLAG;

struct AlgorithmCache {
    std::array<PROV_ENUMALGS_EX, kCacheRecords> records{};
    std::uint32_t count = 0;
};

AlgorithmCache gCache;
// Module contexts that key walks hand out as their state.
std::set<std::uint64_t> gEnumContextSet;
// Blocks handed out and not freed yet: FreeBuffer frees nothing else.
std::set<void*> gHandedOut;

// The block is the caller's from now on; false when it could not be noted
// (the block is then freed).
bool noteHandedOut(void* block) noexcept {
    try {
        const std::lock_guard lock(stateMutex());
        gHandedOut.insert(block);
        return true;
    } catch (...) {
        HeapFree(GetProcessHeap(), 0, block);
        return false;
    }
}

// Under stateMutex.
bool loadCacheLocked() {
    if (gCache.count > 0) {
        return true;
    }
    HCRYPTPROV context = 0;
    if (!callCsp(gCsp.CPAcquireContext, &context, LPCSTR{nullptr}, kVerifyFlags,
                 PVTableProvStruc{nullptr})
             .ok) {
        return false;
    }
    bool complete = false;
    while (gCache.count < kCacheRecords) {
        DWORD length = sizeof(PROV_ENUMALGS_EX);
        const CspResult result =
            callCsp(gCsp.CPGetProvParam, context, DWORD{PP_ENUMALGS_EX},
                    reinterpret_cast<BYTE*>(&gCache.records[gCache.count]), &length,
                    DWORD{gCache.count == 0 ? CRYPT_FIRST : CRYPT_NEXT});
        if (!result.ok) {
            complete = !result.missing && result.lastError == ERROR_NO_MORE_ITEMS;
            break;
        }
        ++gCache.count;
    }
    if (gCache.count == kCacheRecords) {
        complete = true;
    }
    releaseContext(context);
    if (!complete) {
        gCache.count = 0;
    }
    return complete;
}

std::optional<NCRYPT_SUPPORTED_LENGTHS> rsaLengthsLocked() {
    for (std::uint32_t i = 0; i < gCache.count; ++i) {
        const PROV_ENUMALGS_EX& record = gCache.records[i];
        if (record.aiAlgid == CALG_RSA_SIGN) {
            return NCRYPT_SUPPORTED_LENGTHS{record.dwMinLen, record.dwMaxLen, 0,
                                            record.dwDefaultLen};
        }
    }
    return std::nullopt;
}

struct AlgorithmEntry {
    std::u16string_view name;
    DWORD algorithmClass;
    DWORD operations;
};

constexpr AlgorithmEntry kAlgorithms[] = {
    {u"RSA", NCRYPT_ASYMMETRIC_ENCRYPTION_INTERFACE,
     NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION | NCRYPT_SIGNATURE_OPERATION},
    {u"ECDSA_P256", NCRYPT_SIGNATURE_INTERFACE, NCRYPT_SIGNATURE_OPERATION},
    {u"ECDH_P256", NCRYPT_SECRET_AGREEMENT_INTERFACE,
     NCRYPT_SECRET_AGREEMENT_OPERATION | NCRYPT_SIGNATURE_OPERATION},
};

const char16_t* algorithmOfBits(DWORD bits) {
    switch (bits) {
        case 256:
            return u"ECDSA_P256";
        case 384:
            return u"ECDSA_P384";
        case 1024:
        case 2048:
        case 4096:
            return u"RSA";
        default:
            return nullptr;
    }
}

// The key behind one listed container: its keySpec and length.
SECURITY_STATUS describeContainer(const char* name, DWORD* keySpec, DWORD* bits) {
    HCRYPTPROV context = 0;
    CspResult result = callCsp(gCsp.CPAcquireContext, &context, name, DWORD{CRYPT_SILENT},
                               PVTableProvStruc{nullptr});
    if (!result.ok) {
        return mappedFailure(result);
    }
    HCRYPTKEY key = 0;
    *keySpec = AT_SIGNATURE;
    result = callCsp(gCsp.CPGetUserKey, context, DWORD{AT_SIGNATURE}, &key);
    if (!result.ok) {
        *keySpec = AT_KEYEXCHANGE;
        result = callCsp(gCsp.CPGetUserKey, context, DWORD{AT_KEYEXCHANGE}, &key);
    }
    if (result.ok) {
        DWORD size = sizeof *bits;
        result = callCsp(gCsp.CPGetKeyParam, context, key, DWORD{KP_KEYLEN},
                         reinterpret_cast<BYTE*>(bits), &size, DWORD{0});
        const CspResult destroyed = callCsp(gCsp.CPDestroyKey, context, key);
        if (result.ok) {
            result = destroyed;
        }
    }
    releaseContext(context);
    return result.ok ? 0 : mappedFailure(result);
}

// One heap block: the record, then the container name widened byte by byte,
// then the algorithm name.
SECURITY_STATUS makeKeyName(const char* name, const char16_t* algorithm, DWORD keySpec,
                            NCryptKeyName** out) {
    const std::size_t nameChars = std::strlen(name);
    const std::size_t algorithmChars = std::char_traits<char16_t>::length(algorithm);
    const std::size_t size =
        sizeof(NCryptKeyName) + (nameChars + 1 + algorithmChars + 1) * sizeof(WCHAR);
    auto* block = static_cast<NCryptKeyName*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (block == nullptr) {
        return NTE_NO_MEMORY;
    }
    auto* text = reinterpret_cast<WCHAR*>(block + 1);
    block->pszName = text;
    for (std::size_t i = 0; i < nameChars; ++i) {
        text[i] = static_cast<unsigned char>(name[i]);
    }
    text += nameChars + 1;
    block->pszAlgid = text;
    std::memcpy(text, algorithm, algorithmChars * sizeof(WCHAR));
    block->dwLegacyKeySpec = keySpec;
    block->dwFlags = 0;
    if (!noteHandedOut(block)) {
        return NTE_NO_MEMORY;
    }
    *out = block;
    return 0;
}

}  // namespace

bool LoadAlgorithmCache() {
    const std::lock_guard lock(stateMutex());
    return loadCacheLocked();
}

std::optional<NCRYPT_SUPPORTED_LENGTHS> GetSupportedLengths(std::int32_t algorithm) {
    if (algorithm == kEc256) {
        return NCRYPT_SUPPORTED_LENGTHS{256, 256, 0, 256};
    }
    if (algorithm == kEc384) {
        return NCRYPT_SUPPORTED_LENGTHS{384, 384, 0, 384};
    }
    if (!isRsa(algorithm)) {
        return std::nullopt;
    }
    const std::lock_guard lock(stateMutex());
    auto lengths = rsaLengthsLocked();
    // A cache whose walk failed is walked again once.
    if (!lengths && gCache.count == 0 && loadCacheLocked()) {
        lengths = rsaLengthsLocked();
    }
    return lengths;
}

}  // namespace orva::ksp

SECURITY_STATUS QZKSPEnumAlgorithms(NCRYPT_PROV_HANDLE hProvider, DWORD dwAlgOperations,
                                    DWORD* pdwAlgCount, NCryptAlgorithmName** ppAlgList,
                                    DWORD dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    if (pdwAlgCount == nullptr || ppAlgList == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~NCRYPT_SILENT_FLAG) != 0) {
        return NTE_BAD_FLAGS;
    }
    if (dwAlgOperations != 0 && (dwAlgOperations & (NCRYPT_ASYMMETRIC_ENCRYPTION_OPERATION |
                                                    NCRYPT_SIGNATURE_OPERATION)) == 0) {
        return NTE_NOT_SUPPORTED;
    }
    std::size_t size = sizeof kAlgorithms / sizeof kAlgorithms[0] * sizeof(NCryptAlgorithmName);
    for (const AlgorithmEntry& entry : kAlgorithms) {
        size += (entry.name.size() + 1) * sizeof(WCHAR);
    }
    auto* list =
        static_cast<NCryptAlgorithmName*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (list == nullptr) {
        return NTE_NO_MEMORY;
    }
    auto* text = reinterpret_cast<WCHAR*>(list + std::size(kAlgorithms));
    for (std::size_t i = 0; i < std::size(kAlgorithms); ++i) {
        const AlgorithmEntry& entry = kAlgorithms[i];
        std::memcpy(text, entry.name.data(), entry.name.size() * sizeof(WCHAR));
        list[i] = NCryptAlgorithmName{text, entry.algorithmClass, entry.operations, 0};
        text += entry.name.size() + 1;
    }
    if (!noteHandedOut(list)) {
        return NTE_NO_MEMORY;
    }
    *pdwAlgCount = static_cast<DWORD>(std::size(kAlgorithms));
    *ppAlgList = list;
    return 0;
}

SECURITY_STATUS QZKSPIsAlgSupported(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszAlgId, DWORD dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    if (pszAlgId == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~NCRYPT_SILENT_FLAG) != 0) {
        return NTE_BAD_FLAGS;
    }
    return std::u16string_view(pszAlgId, boundedLength(pszAlgId, 8)) == u"RSA" ? 0
                                                                               : NTE_NOT_SUPPORTED;
}

SECURITY_STATUS QZKSPEnumKeys(NCRYPT_PROV_HANDLE hProvider, LPCWSTR /*pszScope*/,
                              NCryptKeyName** ppKeyName, PVOID* ppEnumState, DWORD dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    if (ppKeyName == nullptr || ppEnumState == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~kEnumKeysFlags) != 0) {
        return NTE_BAD_FLAGS;
    }
    if ((dwFlags & NCRYPT_MACHINE_KEY_FLAG) != 0) {
        return NTE_NOT_SUPPORTED;
    }
    // Room for the longest name the provider makes, and a NUL after it
    // whatever the module writes.
    char name[kMaxKeyNameBytes + 1] = {};
    DWORD length = kMaxKeyNameBytes;
    auto state = reinterpret_cast<std::uint64_t>(*ppEnumState);
    CspResult result;
    if (state == 0) {
        HCRYPTPROV context = 0;
        result = callCsp(gCsp.CPAcquireContext, &context, LPCSTR{nullptr}, kVerifyFlags,
                         PVTableProvStruc{nullptr});
        if (!result.ok) {
            return mappedFailure(result);
        }
        result = callCsp(gCsp.CPGetProvParam, context, DWORD{PP_ENUMCONTAINERS},
                         reinterpret_cast<BYTE*>(name), &length, DWORD{CRYPT_FIRST});
        if (!result.ok) {
            releaseContext(context);
        } else {
            try {
                const std::lock_guard lock(stateMutex());
                gEnumContextSet.insert(context);
            } catch (...) {
                releaseContext(context);
                return NTE_NO_MEMORY;
            }
            *ppEnumState = reinterpret_cast<PVOID>(context);
        }
    } else {
        {
            const std::lock_guard lock(stateMutex());
            if (gEnumContextSet.count(state) == 0) {
                return NTE_INVALID_PARAMETER;
            }
        }
        result = callCsp(gCsp.CPGetProvParam, HCRYPTPROV{state}, DWORD{PP_ENUMCONTAINERS},
                         reinterpret_cast<BYTE*>(name), &length, DWORD{CRYPT_NEXT});
    }
    if (!result.ok) {
        if (!result.missing && result.lastError == ERROR_NO_MORE_ITEMS) {
            return NTE_NO_MORE_ITEMS;
        }
        return mappedFailure(result);
    }
    if (length > kMaxKeyNameBytes) {
        return NTE_INTERNAL_ERROR;
    }
    DWORD keySpec = 0;
    DWORD bits = 0;
    if (const SECURITY_STATUS status = describeContainer(name, &keySpec, &bits); status != 0) {
        return status;
    }
    const char16_t* algorithm = algorithmOfBits(bits);
    if (algorithm == nullptr) {
        return NTE_INTERNAL_ERROR;
    }
    return makeKeyName(name, algorithm, keySpec, ppKeyName);
}

// A value this provider did not hand out, or handed out and saw freed
// already, is left alone: freeing it would corrupt the heap.
SECURITY_STATUS QZKSPFreeBuffer(PVOID pvInput) {
    const auto value = reinterpret_cast<std::uint64_t>(pvInput);
    bool isState = false;
    bool isBlock = false;
    {
        const std::lock_guard lock(stateMutex());
        isState = gEnumContextSet.erase(value) != 0;
        isBlock = !isState && gHandedOut.erase(pvInput) != 0;
    }
    if (isState) {
        releaseContext(HCRYPTPROV{value});
    } else if (isBlock) {
        HeapFree(GetProcessHeap(), 0, pvInput);
    }
    return 0;
}
