// The key lifecycle: create, finalize, open, free and delete.

#include <cstring>
#include <mutex>

#include "ksp_entries.h"
#include "ksp_internal.h"

using namespace orva::ksp;

namespace {

constexpr std::uint32_t kCreateFlags = NCRYPT_SILENT_FLAG | NCRYPT_OVERWRITE_KEY_FLAG;
constexpr std::uint32_t kFinalizeFlags =
    NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG | NCRYPT_SILENT_FLAG | NCRYPT_NO_KEY_VALIDATION;
// CPGenKey's flag for an EC key; the length sits in the upper 16 bits.
constexpr std::uint32_t kEcKeyFlag = 0x40000000;
constexpr std::int32_t kMaxLengthBits = 0x3FFF;

// The name as the module sees it, in a zeroed buffer of size bytes.
struct ModuleName {
    char text[1024] = {};
};

bool moduleName(const KspKey& key, ModuleName& out) {
    if (!key.name) {
        return false;
    }
    const auto narrow = narrowKeyName(key.name->c_str());
    if (!narrow || narrow->size() >= sizeof out.text) {
        return false;
    }
    std::memcpy(out.text, narrow->c_str(), narrow->size() + 1);
    return true;
}

bool isReservedName(const ModuleName& name) {
    constexpr char kReserved[] = "CNGLENGTHS";
    for (std::size_t i = 0; i < sizeof kReserved; ++i) {
        char c = name.text[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != kReserved[i]) {
            return false;
        }
    }
    return true;
}

// Whether the container already holds a key of the object's keySpec; if so the
// object takes the context and key, to be released with it.
bool CheckKeyExists(KspKey& key) {
    ModuleName name;
    if (!moduleName(key, name) || isReservedName(name)) {
        return false;
    }
    HCRYPTPROV context = 0;
    if (!callCsp(gCsp.CPAcquireContext, &context, static_cast<LPCSTR>(name.text), DWORD{0},
                 PVTableProvStruc{nullptr})
             .ok) {
        return false;
    }
    HCRYPTKEY handle = 0;
    if (!callCsp(gCsp.CPGetUserKey, context, DWORD{key.legacyKeySpec}, &handle).ok) {
        releaseContext(context);
        return false;
    }
    key.cspContext = context;
    key.cspKey = handle;
    key.finalized = 1;
    return true;
}

// 0 when CPGenKey may fill the keySpec's slot of an existing container: it
// is empty, or the caller asked to overwrite. CPGenKey replaces whatever is
// there, and the certificate issued for it with it.
SECURITY_STATUS slotMayBeFilled(HCRYPTPROV context, const KspKey& key) {
    if ((key.flags & NCRYPT_OVERWRITE_KEY_FLAG) != 0) {
        return 0;
    }
    HCRYPTKEY existing = 0;
    const CspResult result =
        callCsp(gCsp.CPGetUserKey, context, DWORD{key.legacyKeySpec}, &existing);
    if (result.ok) {
        destroyKey(context, existing);
        return NTE_EXISTS;
    }
    // Only a module that says the slot is empty lets a key be generated.
    if (!result.missing && result.lastError == static_cast<DWORD>(NTE_NO_KEY)) {
        return 0;
    }
    return mappedFailure(result);
}

SECURITY_STATUS GenerateKeyInCsp(KspKey& key) {
    ModuleName name;
    if (!moduleName(key, name)) {
        return NTE_INVALID_PARAMETER;
    }
    // Another thread finalizing a key of the same container must not slip
    // between the look at the slot and the generation.
    static std::mutex generation;
    const std::lock_guard lock(generation);
    HCRYPTPROV context = 0;
    CspResult result = callCsp(gCsp.CPAcquireContext, &context, static_cast<LPCSTR>(name.text),
                               DWORD{CRYPT_NEWKEYSET}, PVTableProvStruc{nullptr});
    // A container that exists (the other keySpec, an overwrite, a retry) is
    // opened instead of refused.
    if (!result.ok && !result.missing && result.lastError == static_cast<DWORD>(NTE_EXISTS)) {
        result = callCsp(gCsp.CPAcquireContext, &context, static_cast<LPCSTR>(name.text), DWORD{0},
                         PVTableProvStruc{nullptr});
        if (result.ok) {
            if (const SECURITY_STATUS status = slotMayBeFilled(context, key); status != 0) {
                releaseContext(context);
                return status;
            }
        }
    }
    if (!result.ok) {
        return mappedFailure(result);
    }
    DWORD flags = static_cast<DWORD>(key.lengthBits) << 16;
    if (isEc(key.algorithm)) {
        flags |= kEcKeyFlag;
    }
    HCRYPTKEY handle = 0;
    result = callCsp(gCsp.CPGenKey, context, ALG_ID{key.legacyKeySpec}, flags, &handle);
    if (!result.ok) {
        releaseContext(context);
        return mappedFailure(result);
    }
    key.cspContext = context;
    key.cspKey = handle;
    key.finalized = 1;
    return 0;
}

std::int32_t algorithmForBits(DWORD bits) {
    switch (bits) {
        case 256:
            return kEc256;
        case 384:
            return kEc384;
        case 1024:
            return kRsa1024;
        case 2048:
            return kRsa2048;
        case 4096:
            return kRsa4096;
        default:
            return kAlgorithmNone;
    }
}

}  // namespace

SECURITY_STATUS QZKSPCreatePersistedKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
                                        LPCWSTR pszAlgId, LPCWSTR pszKeyName, DWORD dwLegacyKeySpec,
                                        DWORD dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    if (phKey == nullptr || pszAlgId == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~kCreateFlags) != 0) {
        return NTE_BAD_FLAGS;
    }
    const std::u16string_view algorithm(pszAlgId, boundedLength(pszAlgId, 16));
    const bool rsa = algorithm == u"RSA" || algorithm == u"RSA_SIGN";
    const bool ec = algorithm == u"ECDSA_P256" || algorithm == u"ECDH_P256";
    if (!rsa && !ec) {
        return NTE_NOT_SUPPORTED;
    }
    auto key = CreateKeyObject(pszKeyName);
    if (!key) {
        return NTE_INVALID_PARAMETER;
    }
    key->legacyKeySpec = dwLegacyKeySpec == 0 ? AT_SIGNATURE : dwLegacyKeySpec;
    key->flags = dwFlags;
    // The handles the check takes end with the object.
    if (pszKeyName != nullptr && (dwFlags & NCRYPT_OVERWRITE_KEY_FLAG) == 0 &&
        CheckKeyExists(*key)) {
        return NTE_EXISTS;
    }
    key->algorithm = rsa ? kRsa2048 : kEc256;
    key->lengthBits = rsa ? 2048 : 256;
    key->finalized = 0;
    const NCRYPT_KEY_HANDLE handle = addKey(std::move(key));
    if (handle == 0) {
        return NTE_NO_MEMORY;
    }
    *phKey = handle;
    return 0;
}

SECURITY_STATUS QZKSPFinalizeKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                 DWORD dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    const Held<KspKey> key = holdKey(hKey);
    if (!key || key->finalized != 0) {
        return NTE_INVALID_HANDLE;
    }
    if ((dwFlags & ~kFinalizeFlags) != 0) {
        return NTE_BAD_FLAGS;
    }
    if ((dwFlags & NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG) != 0) {
        return NTE_NOT_SUPPORTED;
    }
    // The length shares CPGenKey's flags with the EC bit; an anonymous key
    // would make a container nobody could find again.
    if (key->lengthBits <= 0 || key->lengthBits > kMaxLengthBits || !key->name) {
        return NTE_INVALID_PARAMETER;
    }
    return GenerateKeyInCsp(*key);
}

SECURITY_STATUS QZKSPOpenKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE* phKey,
                             LPCWSTR pszKeyName, DWORD dwLegacyKeySpec, DWORD dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    if (phKey == nullptr || pszKeyName == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    auto key = CreateKeyObject(pszKeyName);
    if (!key) {
        return NTE_INVALID_PARAMETER;
    }
    key->flags = dwFlags;
    key->legacyKeySpec = dwLegacyKeySpec == 0 ? AT_SIGNATURE : dwLegacyKeySpec;
    ModuleName name;
    moduleName(*key, name);
    // Handles are taken only from calls that succeeded; on failure they end
    // with the object.
    HCRYPTPROV context = 0;
    CspResult result = callCsp(gCsp.CPAcquireContext, &context, static_cast<LPCSTR>(name.text),
                               DWORD{0}, PVTableProvStruc{nullptr});
    if (result.ok) {
        key->cspContext = context;
        HCRYPTKEY handle = 0;
        result = callCsp(gCsp.CPGetUserKey, context, DWORD{key->legacyKeySpec}, &handle);
        if (result.ok) {
            key->cspKey = handle;
        }
    }
    DWORD bits = 0;
    if (result.ok) {
        DWORD size = sizeof bits;
        result = callCsp(gCsp.CPGetKeyParam, key->cspContext, key->cspKey, DWORD{KP_KEYLEN},
                         reinterpret_cast<BYTE*>(&bits), &size, DWORD{0});
    }
    if (!result.ok) {
        return mappedFailure(result);
    }
    key->algorithm = algorithmForBits(bits);
    key->lengthBits = static_cast<std::int32_t>(bits);
    if (key->algorithm == kAlgorithmNone) {
        return NTE_INTERNAL_ERROR;
    }
    key->finalized = 1;
    const NCRYPT_KEY_HANDLE handle = addKey(std::move(key));
    if (handle == 0) {
        return NTE_NO_MEMORY;
    }
    *phKey = handle;
    return 0;
}

SECURITY_STATUS QZKSPFreeKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey) {
    if (!isLiveProvider(hProvider) || !removeKey(hKey)) {
        return NTE_INVALID_HANDLE;
    }
    return 0;
}

// Deleting the container would take the bank's other key and certificates
// with it, so nothing is deleted, and the caller is told so.
SECURITY_STATUS QZKSPDeleteKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                               DWORD dwFlags) {
    if (!isLiveProvider(hProvider) || !holdKey(hKey)) {
        return NTE_INVALID_HANDLE;
    }
    if ((dwFlags & ~NCRYPT_SILENT_FLAG) != 0) {
        return NTE_BAD_FLAGS;
    }
    return NTE_NOT_SUPPORTED;
}
