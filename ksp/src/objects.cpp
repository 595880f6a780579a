// Provider and key objects: the handle tables that own them, key objects'
// making and ending, and the small conversions the entries share.

#include <cstring>

#include "ksp_internal.h"

namespace orva::ksp {

namespace {

// Set once the tables end with the library's statics: the module is unbound
// then (detach) or being torn down (exit), so what is still open is dropped
// without calling it.
bool gModuleCallsEnded = false;

struct Tables {
    // Top bytes of the handles: 'P' and 'K'.
    HandleTable<KspProvider> providers{0x50};
    HandleTable<KspKey> keys{0x4B};

    ~Tables() { gModuleCallsEnded = true; }
};

Tables& tables() {
    static Tables instance;
    return instance;
}

}  // namespace

std::mutex& stateMutex() {
    static std::mutex mutex;
    return mutex;
}

NCRYPT_PROV_HANDLE addProvider(std::unique_ptr<KspProvider> provider) {
    return tables().providers.add(std::move(provider));
}

NCRYPT_KEY_HANDLE addKey(std::unique_ptr<KspKey> key) {
    return tables().keys.add(std::move(key));
}

bool isLiveProvider(NCRYPT_PROV_HANDLE handle) {
    return tables().providers.contains(handle);
}

Held<KspProvider> holdProvider(NCRYPT_PROV_HANDLE handle) {
    return tables().providers.hold(handle);
}

Held<KspKey> holdKey(NCRYPT_KEY_HANDLE handle) {
    return tables().keys.hold(handle);
}

bool removeProvider(NCRYPT_PROV_HANDLE handle) {
    return tables().providers.remove(handle);
}

bool removeKey(NCRYPT_KEY_HANDLE handle) {
    return tables().keys.remove(handle);
}

KspKey::~KspKey() {
    if (gModuleCallsEnded) {
        return;
    }
    if (cspKey != 0) {
        destroyKey(cspContext, cspKey);
    }
    if (cspContext != 0) {
        releaseContext(cspContext);
    }
}

std::size_t boundedLength(LPCWSTR text, std::size_t limit) {
    std::size_t n = 0;
    while (n <= limit && text[n] != u'\0') {
        ++n;
    }
    return n;
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

std::unique_ptr<KspKey> CreateKeyObject(LPCWSTR name) {
    auto key = std::make_unique<KspKey>();
    if (name != nullptr) {
        const std::size_t length = boundedLength(name, kMaxKeyNameBytes);
        if ((length + 1) * sizeof(WCHAR) > kMaxKeyNameBytes || !narrowKeyName(name)) {
            return nullptr;
        }
        key->name.emplace(std::u16string_view(name, length));
    }
    return key;
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
