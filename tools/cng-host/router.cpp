#include "router.h"

#include <cstdio>
#include <cstring>

#include "win32/codepage.h"
#include "win32/errors.h"

namespace orva::cng {

std::u16string widen(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (units <= 0) {
        throw RouterError("not UTF-8: " + std::string(utf8));
    }
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), units);
    return out;
}

std::string narrow(std::u16string_view utf16) {
    if (utf16.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf16.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return "?";
    }
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string statusText(std::int32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<std::uint32_t>(status));
    return text;
}

KspRouter::KspRouter(const std::string& providerPath) {
    module_ = LoadLibraryA(providerPath.c_str());
    if (module_ == nullptr) {
        throw RouterError("cannot load " + providerPath + ": " + orva_platform_last_load_error());
    }
    auto entry = reinterpret_cast<GetKeyStorageInterfaceFn>(
        GetProcAddress(module_, "GetKeyStorageInterface"));
    if (entry == nullptr) {
        FreeLibrary(module_);
        throw RouterError(providerPath + " has no GetKeyStorageInterface");
    }
    interfaceStatus_ = entry(u"Korvane CSP ORVA V1.0", &table_, 0);
    if (table_ == nullptr || table_->Version.MajorVersion != 1 ||
        table_->Version.MinorVersion != 0) {
        FreeLibrary(module_);
        throw RouterError(providerPath + " hands out no version 1.0 table");
    }
}

KspRouter::~KspRouter() {
    FreeLibrary(module_);
}

Provider::Provider(const KspRouter& router, std::u16string_view name) : table_(router.table()) {
    const std::u16string text(name);
    const SECURITY_STATUS status = table_.OpenProvider(&handle_, text.c_str(), 0);
    if (status != 0) {
        throw RouterError("OpenProvider: " + statusText(status));
    }
}

Provider::~Provider() {
    table_.FreeProvider(handle_);
}

Key::~Key() {
    if (handle_ != 0) {
        provider_->table().FreeKey(provider_->handle(), handle_);
    }
}

SECURITY_STATUS createKey(const Provider& provider, std::u16string_view name,
                          const KeyOptions& options, std::optional<Key>& out) {
    const auto& t = provider.table();
    const std::u16string text(name);
    NCRYPT_KEY_HANDLE handle = 0;
    SECURITY_STATUS status =
        t.CreatePersistedKey(provider.handle(), &handle, options.algorithm.c_str(), text.c_str(),
                             options.legacyKeySpec, options.flags);
    if (status != 0) {
        return status;
    }
    Key key(provider, handle);
    if (options.lengthBits) {
        DWORD bits = *options.lengthBits;
        status = t.SetKeyProperty(provider.handle(), handle, u"Length",
                                  reinterpret_cast<PBYTE>(&bits), sizeof bits, 0);
        if (status != 0) {
            return status;
        }
    }
    status = t.FinalizeKey(provider.handle(), handle, 0);
    if (status == 0) {
        out.emplace(std::move(key));
    }
    return status;
}

SECURITY_STATUS openKey(const Provider& provider, std::u16string_view name,
                        std::uint32_t legacyKeySpec, std::optional<Key>& out) {
    const std::u16string text(name);
    NCRYPT_KEY_HANDLE handle = 0;
    const SECURITY_STATUS status =
        provider.table().OpenKey(provider.handle(), &handle, text.c_str(), legacyKeySpec, 0);
    if (status == 0) {
        out.emplace(provider, handle);
    }
    return status;
}

namespace {

// Calls f(buffer, size, &result) once for the size and once with the buffer.
template <typename F>
Output twoCalls(F&& f) {
    Output out;
    DWORD size = 0;
    out.status = f(nullptr, 0, &size);
    if (out.status != 0) {
        return out;
    }
    out.bytes.resize(size);
    out.status = f(out.bytes.data(), size, &size);
    if (out.status == 0) {
        out.bytes.resize(std::min<std::size_t>(size, out.bytes.size()));
    } else {
        out.bytes.clear();
    }
    return out;
}

PBYTE data(const Bytes& bytes) {
    return const_cast<PBYTE>(bytes.data());
}

}  // namespace

Output signHash(const Key& key, const Bytes& hash, std::uint32_t flags) {
    const auto& p = key.provider();
    BCRYPT_PKCS1_PADDING_INFO info{u"SHA256"};
    return twoCalls([&](PBYTE buffer, DWORD size, DWORD* result) {
        return p.table().SignHash(p.handle(), key.handle(), &info, data(hash),
                                  static_cast<DWORD>(hash.size()), buffer, size, result, flags);
    });
}

SECURITY_STATUS verifySignature(const Key& key, const Bytes& hash, const Bytes& signature,
                                std::uint32_t flags) {
    const auto& p = key.provider();
    return p.table().VerifySignature(p.handle(), key.handle(), nullptr, data(hash),
                                     static_cast<DWORD>(hash.size()), data(signature),
                                     static_cast<DWORD>(signature.size()), flags);
}

Output encrypt(const Key& key, const Bytes& plaintext, std::uint32_t flags) {
    const auto& p = key.provider();
    return twoCalls([&](PBYTE buffer, DWORD size, DWORD* result) {
        return p.table().Encrypt(p.handle(), key.handle(), data(plaintext),
                                 static_cast<DWORD>(plaintext.size()), nullptr, buffer, size,
                                 result, flags);
    });
}

Output decrypt(const Key& key, const Bytes& ciphertext, std::uint32_t flags) {
    const auto& p = key.provider();
    return twoCalls([&](PBYTE buffer, DWORD size, DWORD* result) {
        return p.table().Decrypt(p.handle(), key.handle(), data(ciphertext),
                                 static_cast<DWORD>(ciphertext.size()), nullptr, buffer, size,
                                 result, flags);
    });
}

Output exportKey(const Key& key, std::u16string_view blobType) {
    const auto& p = key.provider();
    const std::u16string type(blobType);
    return twoCalls([&](PBYTE buffer, DWORD size, DWORD* result) {
        return p.table().ExportKey(p.handle(), key.handle(), 0, type.c_str(), nullptr, buffer, size,
                                   result, 0);
    });
}

Output getKeyProperty(const Key& key, std::u16string_view property, std::uint32_t flags) {
    const auto& p = key.provider();
    const std::u16string name(property);
    return twoCalls([&](PBYTE buffer, DWORD size, DWORD* result) {
        return p.table().GetKeyProperty(p.handle(), key.handle(), name.c_str(), buffer, size,
                                        result, flags);
    });
}

SECURITY_STATUS setKeyProperty(const Key& key, std::u16string_view property, const Bytes& value) {
    const auto& p = key.provider();
    const std::u16string name(property);
    return p.table().SetKeyProperty(p.handle(), key.handle(), name.c_str(), data(value),
                                    static_cast<DWORD>(value.size()), 0);
}

Output getProviderProperty(const Provider& provider, std::u16string_view property) {
    const std::u16string name(property);
    return twoCalls([&](PBYTE buffer, DWORD size, DWORD* result) {
        return provider.table().GetProviderProperty(provider.handle(), name.c_str(), buffer, size,
                                                    result, 0);
    });
}

SECURITY_STATUS setProviderProperty(const Provider& provider, std::u16string_view property,
                                    const Bytes& value) {
    const std::u16string name(property);
    return provider.table().SetProviderProperty(provider.handle(), name.c_str(), data(value),
                                                static_cast<DWORD>(value.size()), 0);
}

SECURITY_STATUS enumAlgorithms(const Provider& provider, std::uint32_t operations,
                               std::vector<AlgorithmEntry>& out) {
    DWORD count = 0;
    NCryptAlgorithmName* list = nullptr;
    const SECURITY_STATUS status =
        provider.table().EnumAlgorithms(provider.handle(), operations, &count, &list, 0);
    if (status != 0) {
        return status;
    }
    for (DWORD i = 0; i < count; ++i) {
        out.push_back({list[i].pszName, list[i].dwClass, list[i].dwAlgOperations});
    }
    provider.table().FreeBuffer(list);
    return 0;
}

SECURITY_STATUS enumKeys(const Provider& provider, std::vector<KeyEntry>& out) {
    // A walk that never ends is cut off rather than followed forever.
    constexpr int kMaxSteps = 100000;
    PVOID state = nullptr;
    SECURITY_STATUS status = 0;
    for (int step = 0; step < kMaxSteps; ++step) {
        NCryptKeyName* name = nullptr;
        status = provider.table().EnumKeys(provider.handle(), nullptr, &name, &state, 0);
        if (status == 0) {
            out.push_back({name->pszName, name->pszAlgid, name->dwLegacyKeySpec});
            provider.table().FreeBuffer(name);
        } else if (status == NTE_NO_MORE_ITEMS || state == nullptr) {
            break;
        }
    }
    if (state != nullptr) {
        provider.table().FreeBuffer(state);
    }
    return status;
}

}  // namespace orva::cng
