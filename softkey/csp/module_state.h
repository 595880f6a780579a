#pragma once

// qzcore3's process state: the handle tables of contexts, keys and hashes,
// and the call frame every entry point runs in.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "csp_crypto.h"
#include "store.h"
#include "win32/cryptoapi.h"

namespace orva::qzcore3 {

// A key of a container as a context holds it: read once, at acquire or
// generation, so operations never go back to the store for it.
struct LoadedKey {
    KeyPair pair;
    std::optional<Bytes> certificate;  // DER
};

// A walk over the containers or the algorithms, per context: what there was
// when it started, and where it stands.
template <typename Item>
struct Cursor {
    bool started = false;
    std::vector<Item> items;
    std::size_t next = 0;
};

struct Context {
    std::optional<std::string> container;              // none: a verification context
    std::map<DWORD, std::shared_ptr<LoadedKey>> keys;  // by legacy key type
    Cursor<std::string> containers;
    Cursor<PROV_ENUMALGS_EX> algorithms;
};

struct KeyRef {
    HCRYPTPROV context;
    DWORD keySpec;
};

struct HashRef {
    HCRYPTPROV context;
    ALG_ID algorithm;
    std::optional<Bytes> value;
};

// Handles are never 0 and never reused, so a stale one is refused.
class HandleTables {
  public:
    HCRYPTPROV addContext(Context context);
    Context& context(HCRYPTPROV handle);  // NTE_BAD_UID when unknown
    void releaseContext(HCRYPTPROV handle);

    HCRYPTKEY addKey(KeyRef key);
    KeyRef& key(HCRYPTPROV context, HCRYPTKEY handle);  // NTE_BAD_KEY when unknown or foreign
    void destroyKey(HCRYPTPROV context, HCRYPTKEY handle);

    HCRYPTHASH addHash(HashRef hash);
    HashRef& hash(HCRYPTPROV context, HCRYPTHASH handle);  // NTE_BAD_HASH likewise
    void destroyHash(HCRYPTPROV context, HCRYPTHASH handle);

    std::size_t liveContexts() const noexcept { return contexts_.size(); }

  private:
    ULONG_PTR next_ = 0x100;
    std::map<HCRYPTPROV, Context> contexts_;
    std::map<HCRYPTKEY, KeyRef> keys_;
    std::map<HCRYPTHASH, HashRef> hashes_;
};

// Whether an entry reads the store's trace switch and faults. The hash
// objects' entries work in memory only, and are not worth the store's checks
// on every signature.
enum class StoreChecks { yes, no };

// One entry point's run: holds the module's lock, writes the trace line when
// the store's trace switch is on, and fires an injected failure first.
class Call {
  public:
    Call(const char* name, const std::string& arguments, StoreChecks checks = StoreChecks::yes);
    HandleTables& handles() noexcept;
    softkey::Store& store() noexcept { return store_; }
    // One more trace line, for what is known only inside the entry.
    void note(const std::string& text);

  private:
    std::unique_lock<std::mutex> lock_;
    softkey::Store store_;
    std::string name_;
    bool tracing_ = false;
};

// Runs body as entry point name: TRUE, or FALSE with the failure's code in
// the last error. Nothing escapes.
template <typename Body>
BOOL runEntry(const char* name, const std::string& arguments, Body&& body,
              StoreChecks checks = StoreChecks::yes) noexcept;

void setLastErrorFromException() noexcept;

// The key a context holds for a keySpec, read from its container.
std::shared_ptr<LoadedKey> loadKey(const softkey::Store& store, const std::string& container,
                                   DWORD keySpec);

// Fills a caller's buffer by the CryptoAPI rules: a null buffer asks the size;
// a short one gets ERROR_MORE_DATA with the size.
void fillBuffer(std::span<const std::uint8_t> data, BYTE* buffer, DWORD* size);

template <typename Body>
BOOL runEntry(const char* name, const std::string& arguments, Body&& body,
              StoreChecks checks) noexcept {
    try {
        Call call(name, arguments, checks);
        body(call);
        return TRUE;
    } catch (...) {
        setLastErrorFromException();
        return FALSE;
    }
}

std::string hexWord(std::uint32_t value);

}  // namespace orva::qzcore3
