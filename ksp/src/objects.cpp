// Provider and key objects: the live sets that recognise their handles, key
// objects' making and release, and the small conversions the entries share.

#include <cstring>
#include <set>

#include "ksp_internal.h"
#include "win32/system.h"

namespace orva::ksp {

namespace {

std::set<KspProvider*> gProviders;
std::set<KspKey*> gKeys;

// Zeroes a heap string up to its NUL, then frees it.
void wipeAndFree(LPWSTR text) {
    if (text != nullptr) {
        std::memset(text, 0, (std::char_traits<char16_t>::length(text) + 1) * sizeof(WCHAR));
        HeapFree(GetProcessHeap(), 0, text);
    }
}

}  // namespace

std::mutex& stateMutex() {
    static std::mutex mutex;
    return mutex;
}

// A handle is looked at only once the set says it is live.
bool ValidateProviderHandle(NCRYPT_PROV_HANDLE handle) {
    auto* provider = reinterpret_cast<KspProvider*>(handle);
    const std::lock_guard lock(stateMutex());
    return provider != nullptr && gProviders.count(provider) != 0 &&
           provider->size >= sizeof(KspProvider) && provider->signature == KSP_PROVIDER_SIGNATURE;
}

bool ValidateKeyHandle(NCRYPT_KEY_HANDLE handle) {
    auto* key = reinterpret_cast<KspKey*>(handle);
    const std::lock_guard lock(stateMutex());
    return key != nullptr && gKeys.count(key) != 0 && key->size >= sizeof(KspKey) &&
           key->signature == KSP_KEY_SIGNATURE;
}

KspProvider* providerOf(NCRYPT_PROV_HANDLE handle) {
    return reinterpret_cast<KspProvider*>(handle);
}

KspKey* keyOf(NCRYPT_KEY_HANDLE handle) {
    return reinterpret_cast<KspKey*>(handle);
}

bool registerProvider(KspProvider* provider) noexcept {
    try {
        const std::lock_guard lock(stateMutex());
        gProviders.insert(provider);
        return true;
    } catch (...) {
        return false;
    }
}

void unregisterProvider(KspProvider* provider) {
    const std::lock_guard lock(stateMutex());
    gProviders.erase(provider);
}

bool registerKey(KspKey* key) noexcept {
    try {
        const std::lock_guard lock(stateMutex());
        gKeys.insert(key);
        return true;
    } catch (...) {
        return false;
    }
}

void unregisterKey(KspKey* key) {
    const std::lock_guard lock(stateMutex());
    gKeys.erase(key);
}

std::size_t boundedLength(LPCWSTR text, std::size_t limit) {
    std::size_t n = 0;
    while (n <= limit && text[n] != u'\0') {
        ++n;
    }
    return n;
}

std::u16string_view view(LPCWSTR text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

std::optional<std::string> narrowKeyName(LPCWSTR name) {
    std::string narrow;
    for (std::size_t i = 0; name[i] != u'\0'; ++i) {
        if (name[i] > 0xFF) {
            return std::nullopt;
        }
        narrow.push_back(static_cast<char>(name[i]));
    }
    return narrow;
}

SECURITY_STATUS CreateKeyObject(LPCWSTR name, KspKey** out) {
    HANDLE heap = GetProcessHeap();
    std::size_t nameBytes = 0;
    if (name != nullptr) {
        nameBytes = (boundedLength(name, kMaxKeyNameBytes) + 1) * sizeof(WCHAR);
        if (nameBytes > kMaxKeyNameBytes || !narrowKeyName(name)) {
            return NTE_INVALID_PARAMETER;
        }
    }
    auto* key = static_cast<KspKey*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(KspKey)));
    if (key == nullptr) {
        return NTE_NO_MEMORY;
    }
    key->size = sizeof(KspKey);
    key->signature = KSP_KEY_SIGNATURE;
    if (name != nullptr) {
        key->name = static_cast<LPWSTR>(HeapAlloc(heap, 0, nameBytes));
        if (key->name == nullptr) {
            HeapFree(heap, 0, key);
            return NTE_NO_MEMORY;
        }
        std::memcpy(key->name, name, nameBytes);
    }
    *out = key;
    return 0;
}

void ReleaseKeyObject(KspKey* key) {
    wipeAndFree(key->name);
    key->name = nullptr;
    wipeAndFree(key->useContext);
    key->useContext = nullptr;
    if (key->cspKey != 0) {
        destroyKey(key->cspContext, key->cspKey);
    }
    if (key->cspContext != 0) {
        releaseContext(key->cspContext);
    }
    // A stale handle then fails validation even before the set is asked.
    key->signature = 0;
    HeapFree(GetProcessHeap(), 0, key);
}

SECURITY_STATUS copyUseContext(PBYTE input, DWORD cbInput, LPWSTR* out) {
    const std::uint64_t units = (std::uint64_t{cbInput} + 1) / 2 + 1;
    auto* copy = static_cast<LPWSTR>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(units * sizeof(WCHAR))));
    if (copy == nullptr) {
        return NTE_NO_MEMORY;
    }
    if (cbInput != 0) {
        std::memcpy(copy, input, cbInput);
    }
    *out = copy;
    return 0;
}

void freeWipedString(LPWSTR text) {
    wipeAndFree(text);
}

SECURITY_STATUS putOutput(const void* data, std::size_t size, PBYTE output, DWORD cbOutput,
                          DWORD* pcbResult) {
    if (size > 0xFFFFFFFFu) {
        *pcbResult = 0;
        return NTE_INTERNAL_ERROR;
    }
    *pcbResult = static_cast<DWORD>(size);
    if (output == nullptr) {
        return 0;
    }
    if (cbOutput < size) {
        return NTE_BUFFER_TOO_SMALL;
    }
    if (size != 0) {
        std::memcpy(output, data, size);
    }
    return 0;
}

void reverseBytes(BYTE* data, std::size_t size) {
    for (std::size_t i = 0; i < size / 2; ++i) {
        std::swap(data[i], data[size - 1 - i]);
    }
}

}  // namespace orva::ksp
