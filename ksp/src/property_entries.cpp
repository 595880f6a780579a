// Provider and key properties.

#include <array>
#include <cstring>

#include "ksp_entries.h"
#include "ksp_internal.h"

using namespace orva::ksp;

namespace {

constexpr std::uint32_t kSecurityInfoBits = OWNER_SECURITY_INFORMATION |
                                            GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                            SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;

// The property name, or nothing when it is null or longer than any property's.
std::optional<std::u16string_view> propertyName(LPCWSTR name) {
    if (name == nullptr) {
        return std::nullopt;
    }
    const std::size_t length = boundedLength(name, kMaxPropertyNameChars);
    if (length > kMaxPropertyNameChars) {
        return std::nullopt;
    }
    return std::u16string_view(name, length);
}

SECURITY_STATUS putDword(DWORD value, PBYTE output, DWORD cbOutput, DWORD* pcbResult) {
    return putOutput(&value, sizeof value, output, cbOutput, pcbResult);
}

SECURITY_STATUS putString(std::u16string_view text, PBYTE output, DWORD cbOutput,
                          DWORD* pcbResult) {
    const std::size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    if (output == nullptr || cbOutput < bytes) {
        return putOutput(nullptr, bytes, output, cbOutput, pcbResult);
    }
    std::memcpy(output, text.data(), text.size() * sizeof(WCHAR));
    std::memset(output + text.size() * sizeof(WCHAR), 0, sizeof(WCHAR));
    *pcbResult = static_cast<DWORD>(bytes);
    return 0;
}

SECURITY_STATUS failWithoutSize(SECURITY_STATUS status, DWORD* pcbResult) {
    if (pcbResult != nullptr) {
        *pcbResult = 0;
    }
    return status;
}

SECURITY_STATUS certificateProperty(const KspKey& key, PBYTE output, DWORD cbOutput,
                                    DWORD* pcbResult) {
    // A key without its module handles has no certificate to read.
    if (key.finalized == 0) {
        return failWithoutSize(NTE_NOT_FOUND, pcbResult);
    }
    DWORD length = cbOutput;
    const CspResult result =
        callCsp(gCsp.CPGetKeyParam, HCRYPTPROV{key.cspContext}, HCRYPTKEY{key.cspKey},
                DWORD{KP_CERTIFICATE}, static_cast<BYTE*>(output), &length, DWORD{0});
    if (!result.ok) {
        // A short buffer tells the size, as the get convention does.
        if (!result.missing && result.lastError == ERROR_MORE_DATA && output != nullptr) {
            *pcbResult = length;
            return NTE_BUFFER_TOO_SMALL;
        }
        return failWithoutSize(NTE_NOT_FOUND, pcbResult);
    }
    *pcbResult = length;
    if (output == nullptr) {
        return 0;
    }
    if (length > cbOutput) {
        return failWithoutSize(NTE_INTERNAL_ERROR, pcbResult);
    }
    return 0;
}

SECURITY_STATUS algorithmNameProperty(const KspKey& key, PBYTE output, DWORD cbOutput,
                                      DWORD* pcbResult) {
    if (isRsa(key.algorithm)) {
        return putString(u"RSA", output, cbOutput, pcbResult);
    }
    if (isEc(key.algorithm)) {
        return putString(key.algorithm == kEc256 ? u"ECDSA_P256" : u"ECDSA_P384", output, cbOutput,
                         pcbResult);
    }
    return failWithoutSize(NTE_NOT_SUPPORTED, pcbResult);
}

SECURITY_STATUS algorithmGroupProperty(const KspKey& key, PBYTE output, DWORD cbOutput,
                                       DWORD* pcbResult) {
    const bool rsa = isRsa(key.algorithm);
    if (rsa || isEc(key.algorithm)) {
        return putString(rsa ? u"RSA" : u"ECDSA", output, cbOutput, pcbResult);
    }
    return failWithoutSize(NTE_NOT_SUPPORTED, pcbResult);
}

SECURITY_STATUS blockLengthProperty(const KspKey& key, PBYTE output, DWORD cbOutput,
                                    DWORD* pcbResult) {
    const std::int64_t bytes = (std::int64_t{key.lengthBits} + 7) / 8;
    return putDword(static_cast<DWORD>(bytes), output, cbOutput, pcbResult);
}

SECURITY_STATUS exportPolicyProperty(const KspKey& key, PBYTE output, DWORD cbOutput,
                                     DWORD* pcbResult) {
    return putDword(key.exportPolicy, output, cbOutput, pcbResult);
}

SECURITY_STATUS keyUsageProperty(const KspKey& key, PBYTE output, DWORD cbOutput,
                                 DWORD* pcbResult) {
    return putDword(key.keyUsage, output, cbOutput, pcbResult);
}

SECURITY_STATUS keyTypeProperty(const KspKey& /*key*/, PBYTE output, DWORD cbOutput,
                                DWORD* pcbResult) {
    return putDword(0, output, cbOutput, pcbResult);
}

SECURITY_STATUS lengthProperty(const KspKey& key, PBYTE output, DWORD cbOutput, DWORD* pcbResult) {
    return putDword(static_cast<DWORD>(key.lengthBits), output, cbOutput, pcbResult);
}

SECURITY_STATUS lengthsProperty(const KspKey& key, PBYTE output, DWORD cbOutput, DWORD* pcbResult) {
    const auto lengths = GetSupportedLengths(key.algorithm);
    if (!lengths) {
        return failWithoutSize(NTE_NOT_SUPPORTED, pcbResult);
    }
    return putOutput(&*lengths, sizeof *lengths, output, cbOutput, pcbResult);
}

SECURITY_STATUS nameProperty(const KspKey& key, PBYTE output, DWORD cbOutput, DWORD* pcbResult) {
    if (!key.name) {
        return failWithoutSize(NTE_NOT_SUPPORTED, pcbResult);
    }
    return putString(key.name->view(), output, cbOutput, pcbResult);
}

SECURITY_STATUS useContextProperty(const KspKey& key, PBYTE output, DWORD cbOutput,
                                   DWORD* pcbResult) {
    if (!key.useContext) {
        return failWithoutSize(NTE_NOT_FOUND, pcbResult);
    }
    return putString(key.useContext->view(), output, cbOutput, pcbResult);
}

// The key properties a get answers, each with its getter; any other name is
// not supported.
struct KeyPropertyEntry {
    std::u16string_view name;
    SECURITY_STATUS (*get)(const KspKey& key, PBYTE output, DWORD cbOutput, DWORD* pcbResult);
};

constexpr std::array kKeyProperties{
    KeyPropertyEntry{u"Algorithm Name", algorithmNameProperty},
    KeyPropertyEntry{u"Algorithm Group", algorithmGroupProperty},
    KeyPropertyEntry{u"Block Length", blockLengthProperty},
    KeyPropertyEntry{u"Export Policy", exportPolicyProperty},
    KeyPropertyEntry{u"Key Usage", keyUsageProperty},
    KeyPropertyEntry{u"Key Type", keyTypeProperty},
    KeyPropertyEntry{u"Length", lengthProperty},
    KeyPropertyEntry{u"Lengths", lengthsProperty},
    KeyPropertyEntry{u"Name", nameProperty},
    KeyPropertyEntry{u"Unique Name", nameProperty},
    KeyPropertyEntry{u"Use Context", useContextProperty},
    KeyPropertyEntry{u"SmartCardKeyCertificate", certificateProperty},
};

}  // namespace

SECURITY_STATUS QZKSPGetProviderProperty(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszProperty,
                                         PBYTE pbOutput, DWORD cbOutput, DWORD* pcbResult,
                                         DWORD dwFlags) {
    const Held<KspProvider> provider = holdProvider(hProvider);
    if (!provider) {
        return failWithoutSize(NTE_INVALID_HANDLE, pcbResult);
    }
    const auto name = pcbResult != nullptr ? propertyName(pszProperty) : std::nullopt;
    if (!name) {
        return failWithoutSize(NTE_INVALID_PARAMETER, pcbResult);
    }
    if ((dwFlags & ~NCRYPT_SILENT_FLAG) != 0) {
        return failWithoutSize(NTE_BAD_FLAGS, pcbResult);
    }
    if (*name == u"Impl Type") {
        return putDword(NCRYPT_IMPL_HARDWARE_FLAG | NCRYPT_IMPL_REMOVABLE_FLAG, pbOutput, cbOutput,
                        pcbResult);
    }
    if (*name == u"Max Name Length") {
        return putDword(kMaxKeyNameBytes, pbOutput, cbOutput, pcbResult);
    }
    if (*name == u"Name") {
        return putString(provider->name.view(), pbOutput, cbOutput, pcbResult);
    }
    if (*name == u"Version") {
        return putDword(0x00010000, pbOutput, cbOutput, pcbResult);
    }
    if (*name == u"Use Context") {
        if (!provider->useContext) {
            return failWithoutSize(NTE_INTERNAL_ERROR, pcbResult);
        }
        return putString(provider->useContext->view(), pbOutput, cbOutput, pcbResult);
    }
    if (*name == u"Security Descr Support") {
        return putDword(1, pbOutput, cbOutput, pcbResult);
    }
    return failWithoutSize(NTE_NOT_SUPPORTED, pcbResult);
}

SECURITY_STATUS QZKSPSetProviderProperty(NCRYPT_PROV_HANDLE hProvider, LPCWSTR pszProperty,
                                         PBYTE pbInput, DWORD cbInput, DWORD dwFlags) {
    const Held<KspProvider> provider = holdProvider(hProvider);
    if (!provider) {
        return NTE_INVALID_HANDLE;
    }
    const auto name = pbInput != nullptr ? propertyName(pszProperty) : std::nullopt;
    if (!name) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~NCRYPT_SILENT_FLAG) != 0) {
        return NTE_BAD_FLAGS;
    }
    if (*name == u"Use Context") {
        provider->useContext = WipedText::fromBytes(pbInput, cbInput);
        return 0;
    }
    return NTE_NOT_SUPPORTED;
}

SECURITY_STATUS QZKSPGetKeyProperty(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                    LPCWSTR pszProperty, PBYTE pbOutput, DWORD cbOutput,
                                    DWORD* pcbResult, DWORD dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return failWithoutSize(NTE_INVALID_HANDLE, pcbResult);
    }
    const Held<KspKey> key = holdKey(hKey);
    if (!key) {
        return failWithoutSize(NTE_INVALID_HANDLE, pcbResult);
    }
    const auto name = pcbResult != nullptr ? propertyName(pszProperty) : std::nullopt;
    if (!name) {
        return failWithoutSize(NTE_INVALID_PARAMETER, pcbResult);
    }
    const DWORD flags = dwFlags & ~NCRYPT_SILENT_FLAG;
    if (*name == u"Security Descr") {
        const bool valid = flags != 0 && (flags & ~kSecurityInfoBits) == 0;
        return failWithoutSize(valid ? NTE_NOT_SUPPORTED : NTE_BAD_FLAGS, pcbResult);
    }
    if ((flags & ~NCRYPT_PERSIST_ONLY_FLAG) != 0) {
        return failWithoutSize(NTE_BAD_FLAGS, pcbResult);
    }
    for (const KeyPropertyEntry& entry : kKeyProperties) {
        if (*name == entry.name) {
            return entry.get(*key, pbOutput, cbOutput, pcbResult);
        }
    }
    return failWithoutSize(NTE_NOT_SUPPORTED, pcbResult);
}

SECURITY_STATUS QZKSPSetKeyProperty(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                                    LPCWSTR pszProperty, PBYTE pbInput, DWORD cbInput,
                                    DWORD /*dwFlags*/) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    const Held<KspKey> key = holdKey(hKey);
    if (!key) {
        return NTE_INVALID_HANDLE;
    }
    const auto name = pbInput != nullptr ? propertyName(pszProperty) : std::nullopt;
    if (!name) {
        return NTE_INVALID_PARAMETER;
    }
    if (*name == u"SmartCardKeyCertificate") {
        // Nothing holds a certificate before the key exists in the module.
        if (key->finalized == 0) {
            return NTE_BAD_KEY_STATE;
        }
        const CspResult result =
            callCsp(gCsp.CPSetKeyParam, HCRYPTPROV{key->cspContext}, HCRYPTKEY{key->cspKey},
                    DWORD{KP_CERTIFICATE}, static_cast<const BYTE*>(pbInput), cbInput);
        return result.ok ? 0 : rawFailure(result);
    }
    if (*name == u"Key Usage" || *name == u"Length" || *name == u"Export Policy") {
        if (cbInput != sizeof(DWORD)) {
            return NTE_INVALID_PARAMETER;
        }
        DWORD value = 0;
        std::memcpy(&value, pbInput, sizeof value);
        if (*name == u"Key Usage") {
            key->keyUsage = value;
        } else if (*name == u"Length") {
            key->lengthBits = static_cast<std::int32_t>(value);
        } else {
            key->exportPolicy = value;
        }
        return 0;
    }
    if (*name == u"Use Context") {
        key->useContext = WipedText::fromBytes(pbInput, cbInput);
        return 0;
    }
    return 0;
}
