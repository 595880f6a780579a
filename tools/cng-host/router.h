#pragma once

// A stand-in for the CNG key storage router: loads a provider module, takes
// its function table from GetKeyStorageInterface, and drives the table with
// the provider handle beside every key handle, as the router does.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "win32/cng.h"
#include "win32/module.h"

namespace orva::cng {

using Bytes = std::vector<std::uint8_t>;

// A provider module that cannot be loaded, or hands out no usable table.
struct RouterError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// UTF-8 text as the table's UTF-16 strings.
std::u16string widen(std::string_view utf8);
std::string narrow(std::u16string_view utf16);

std::string statusText(std::int32_t status);

class KspRouter {
  public:
    explicit KspRouter(const std::string& providerPath);
    ~KspRouter();
    KspRouter(const KspRouter&) = delete;
    KspRouter& operator=(const KspRouter&) = delete;

    // What GetKeyStorageInterface answered (0, or 5 when the provider's
    // algorithm walk failed).
    NTSTATUS interfaceStatus() const noexcept { return interfaceStatus_; }
    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table() const noexcept { return *table_; }
    HMODULE module() const noexcept { return module_; }

  private:
    HMODULE module_ = nullptr;
    NCRYPT_KEY_STORAGE_FUNCTION_TABLE* table_ = nullptr;
    NTSTATUS interfaceStatus_ = 0;
};

// An open provider handle, freed with this object.
class Provider {
  public:
    Provider(const KspRouter& router, std::u16string_view name = u"Korvane CSP ORVA V1.0");
    ~Provider();
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table() const noexcept { return table_; }
    NCRYPT_PROV_HANDLE handle() const noexcept { return handle_; }

  private:
    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table_;
    NCRYPT_PROV_HANDLE handle_ = 0;
};

// A key handle of a provider, freed with this object (if still held).
class Key {
  public:
    Key(const Provider& provider, NCRYPT_KEY_HANDLE handle)
        : provider_(&provider), handle_(handle) {}
    ~Key();
    Key(Key&& other) noexcept : provider_(other.provider_), handle_(other.handle_) {
        other.handle_ = 0;
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    Key& operator=(Key&&) = delete;
    NCRYPT_KEY_HANDLE handle() const noexcept { return handle_; }
    const Provider& provider() const noexcept { return *provider_; }

  private:
    const Provider* provider_;
    NCRYPT_KEY_HANDLE handle_;
};

// A status, and the bytes that came with it.
struct Output {
    SECURITY_STATUS status = 0;
    Bytes bytes;
};

struct KeyOptions {
    std::u16string algorithm = u"RSA";
    std::optional<std::uint32_t> lengthBits;
    std::uint32_t legacyKeySpec = 0;
    std::uint32_t flags = 0;  // NCRYPT_OVERWRITE_KEY_FLAG
};

// Create, set the length, finalize.
SECURITY_STATUS createKey(const Provider& provider, std::u16string_view name,
                          const KeyOptions& options, std::optional<Key>& out);
SECURITY_STATUS openKey(const Provider& provider, std::u16string_view name,
                        std::uint32_t legacyKeySpec, std::optional<Key>& out);

// Size query, then the call with a buffer of that size.
Output signHash(const Key& key, const Bytes& hash, std::uint32_t flags);
SECURITY_STATUS verifySignature(const Key& key, const Bytes& hash, const Bytes& signature,
                                std::uint32_t flags);
Output encrypt(const Key& key, const Bytes& plaintext, std::uint32_t flags = 0);
Output decrypt(const Key& key, const Bytes& ciphertext, std::uint32_t flags = 0);
Output exportKey(const Key& key, std::u16string_view blobType);
Output getKeyProperty(const Key& key, std::u16string_view property, std::uint32_t flags = 0);
SECURITY_STATUS setKeyProperty(const Key& key, std::u16string_view property, const Bytes& value);
Output getProviderProperty(const Provider& provider, std::u16string_view property);
SECURITY_STATUS setProviderProperty(const Provider& provider, std::u16string_view property,
                                    const Bytes& value);

struct AlgorithmEntry {
    std::u16string name;
    std::uint32_t algorithmClass;
    std::uint32_t operations;
};
SECURITY_STATUS enumAlgorithms(const Provider& provider, std::uint32_t operations,
                               std::vector<AlgorithmEntry>& out);

struct KeyEntry {
    std::u16string name;
    std::u16string algorithm;
    std::uint32_t legacyKeySpec;
};
// The whole walk; the state is freed at its end. Calls that fail for one
// container are skipped, as the router does; the walk's last status
// (NTE_NO_MORE_ITEMS at a normal end) is returned.
SECURITY_STATUS enumKeys(const Provider& provider, std::vector<KeyEntry>& out);

}  // namespace orva::cng
