// The provider's function table driven as a router (or a caller behind one)
// might drive it, over the software key's CSP module: a sequence of calls
// decoded from the input (see README.md) with hostile sizes, blobs, flags,
// names and handles (live, freed, of the other kind, forged, null). A model
// of the live handles says which calls must answer NTE_INVALID_HANDLE; every
// buffer is followed by guard bytes that must stay; a reported size is never
// more than was written; what is signed verifies and what is encrypted
// decrypts; and once everything is freed the module holds no context more
// than before.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "input_reader.h"
#include "orva/testing/support.h"
#include "router.h"
#include "win32/cng.h"
#include "win32/cryptoapi.h"
#include "win32/errors.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;
using orva::fuzz::check;
using orva::fuzz::InputReader;

constexpr std::size_t kMaxSteps = 32;
constexpr std::uint32_t kProviderSignature = 0x53504C50;
constexpr std::uint32_t kKeySignature = 0x53504C4B;

// Containers the fixture makes: name, algorithm, length, keySpec.
struct PremadeKey {
    const char16_t* name;
    const char16_t* algorithm;
    std::uint32_t bits;
    std::uint32_t keySpec;
};
constexpr PremadeKey kPremade[] = {
    {u"rsa1024", u"RSA", 1024, AT_SIGNATURE},
    {u"ec256", u"ECDSA_P256", 256, AT_SIGNATURE},
    {u"ec384", u"ECDSA_P256", 384, AT_SIGNATURE},
    {u"exchange", u"RSA", 1024, AT_KEYEXCHANGE},
};

// The provider loaded once over its own registry and store; the store's
// containers are put back as they were before every input.
class Fixture {
  public:
    Fixture()
        : registry_("ORVA_REGISTRY", (dir_.path() / "registry.reg").string()),
          store_("ORVA_SOFTKEY_DIR", (dir_.path() / "store").string()),
          system_("ORVA_SYSTEM_DIR", (dir_.path() / "system").string()) {
        const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
        orva::testing::writeFile(
            dir_.path() / "registry.reg",
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
            "Provider\\Korvane CSP ORVA V1.0]\n\"Image Path\"=\"" +
                (bin / "qzcore3.so").string() + "\"\n");
        fs::create_directories(dir_.path() / "store");
        router_.emplace((bin / "QZKSP#Korvane CSP ORVA V1.0.so").string());
        const std::string module = (bin / "qzcore3.so").string();
        liveContexts_ = reinterpret_cast<DWORD (*)()>(
            GetProcAddress(GetModuleHandleA(module.c_str()), "QZCore3LiveContexts"));
        check(liveContexts_ != nullptr);
        {
            const orva::cng::Provider provider(*router_);
            for (const PremadeKey& key : kPremade) {
                std::optional<orva::cng::Key> made;
                check(orva::cng::createKey(provider, key.name,
                                           {key.algorithm, key.bits, key.keySpec, 0}, made) == 0);
            }
        }
        for (const auto& entry : fs::directory_iterator(containers())) {
            pristine_[entry.path().filename()] = orva::testing::readFile(entry.path());
        }
        baseline_ = liveContexts_();
    }

    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& table() const { return router_->table(); }
    DWORD liveContexts() const { return liveContexts_(); }
    DWORD baseline() const { return baseline_; }

    // The containers as the fixture made them: new ones removed, changed ones
    // replaced by a new file.
    void reset() const {
        for (const auto& entry : fs::directory_iterator(containers())) {
            if (pristine_.count(entry.path().filename()) == 0) {
                fs::remove(entry.path());
            }
        }
        for (const auto& [name, bytes] : pristine_) {
            const fs::path path = containers() / name;
            std::error_code error;
            if (fs::file_size(path, error) == bytes.size() &&
                orva::testing::readFile(path) == bytes) {
                continue;
            }
            orva::testing::writeFile(containers() / "restored.tmp", bytes);
            fs::rename(containers() / "restored.tmp", path);
        }
    }

  private:
    fs::path containers() const { return dir_.path() / "store" / "csp"; }

    struct ScopedEnv {
        ScopedEnv(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
    };

    orva::testing::TempDir dir_{"orva-fuzz-ksp"};
    ScopedEnv registry_;
    ScopedEnv store_;
    ScopedEnv system_;
    std::optional<orva::cng::KspRouter> router_;
    DWORD (*liveContexts_)() = nullptr;
    DWORD baseline_ = 0;
    std::map<fs::path, orva::Bytes> pristine_;
};

const Fixture& fixture() {
    static const Fixture instance;
    return instance;
}

// Every status an entry that maps the module's failures may answer.
bool isProviderStatus(SECURITY_STATUS status) {
    switch (static_cast<std::uint32_t>(status)) {
        case 0:
        case 0x80090006:  // NTE_BAD_SIGNATURE
        case 0x80090008:  // NTE_BAD_ALGID
        case 0x80090009:  // NTE_BAD_FLAGS
        case 0x8009000B:  // NTE_BAD_KEY_STATE
        case 0x8009000E:  // NTE_NO_MEMORY
        case 0x8009000F:  // NTE_EXISTS
        case 0x80090011:  // NTE_NOT_FOUND
        case 0x80090026:  // NTE_INVALID_HANDLE
        case 0x80090027:  // NTE_INVALID_PARAMETER
        case 0x80090028:  // NTE_BUFFER_TOO_SMALL
        case 0x80090029:  // NTE_NOT_SUPPORTED
        case 0x8009002A:  // NTE_NO_MORE_ITEMS
        case 0x8009002D:  // NTE_INTERNAL_ERROR
            return true;
        default:
            return false;
    }
}

// A UTF-16 text the caller passes: one of the names that mean something, a
// run of one character of a chosen length (the limits), or the input's own.
std::optional<std::u16string> textOf(InputReader& in, const std::vector<std::u16string>& known) {
    const std::size_t kind = in.pick(8);
    if (kind == 0) {
        return std::nullopt;
    }
    if (kind == 1) {
        const std::size_t length = in.number<std::uint32_t>() % 0x8100;
        return std::u16string(length, static_cast<char16_t>(u'A' + in.byte() % 26));
    }
    if (kind == 2) {
        std::u16string text;
        const std::size_t length = in.byte();
        for (std::size_t i = 0; i < length && !in.empty(); ++i) {
            const std::uint8_t low = in.byte();
            const auto unit = static_cast<char16_t>(low | in.byte() << 8);
            if (unit == 0) {
                break;
            }
            text.push_back(unit);
        }
        return text;
    }
    return known[in.pick(known.size())];
}

LPCWSTR pointerOf(const std::optional<std::u16string>& text) {
    return text ? text->c_str() : nullptr;
}

std::uint32_t flagsOf(InputReader& in) {
    static constexpr std::uint32_t kUsual[] = {0,    0x40, 0x80,  0x20,      0x200, 0x800,
                                               0x8,  0x2,  0x4,   0x1,       0x48,  0x4A,
                                               0x47, 0xC0, 0x248, 0x40000040};
    return in.byte() % 4 == 0 ? in.number<std::uint32_t>() : kUsual[in.pick(std::size(kUsual))];
}

// An output buffer as a caller hands it: null, or cb bytes followed by guard
// bytes; with the size pointer itself sometimes null.
struct Output {
    static constexpr std::size_t kGuard = 64;
    static constexpr std::uint8_t kFill = 0xA5;

    std::vector<std::uint8_t> bytes;
    bool null = false;
    DWORD cb = 0;
    DWORD result = 0xFFFFFFFF;
    bool noResult = false;

    explicit Output(InputReader& in) {
        const std::uint8_t mode = in.byte();
        null = mode % 4 == 0;
        noResult = mode % 16 == 15;
        cb = mode % 3 == 0 ? in.number<std::uint32_t>() % 5000 : in.byte();
        bytes.assign((null ? 0 : cb) + kGuard, kFill);
    }
    // Exactly room bytes.
    explicit Output(std::size_t room) : cb(static_cast<DWORD>(room)) {
        bytes.assign(cb + kGuard, kFill);
    }

    PBYTE buffer() { return null ? nullptr : bytes.data(); }
    DWORD* resultPointer() { return noResult ? nullptr : &result; }
    bool untouchedFrom(std::size_t offset) const {
        return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end(),
                           [](std::uint8_t b) { return b == kFill; });
    }
    // Nothing past cb, nothing past what was reported on success.
    void checkWrites(SECURITY_STATUS status) const {
        check(untouchedFrom(null ? 0 : cb));
        if (status == 0 && !null && !noResult) {
            check(result <= cb && untouchedFrom(result));
        }
    }
};

// What the harness holds: handles as the caller keeps them, live or not.
struct Model {
    std::vector<NCRYPT_PROV_HANDLE> providers;
    std::set<NCRYPT_PROV_HANDLE> liveProviders;
    struct Key {
        NCRYPT_KEY_HANDLE handle;
        bool finalized;
        bool rsa;
        std::int64_t lengthBits;  // as the property was set
        std::uint32_t realBits;   // of the key in the module, once finalized
        std::u16string name;      // of a created key
    };
    std::vector<Key> keys;
    std::map<NCRYPT_KEY_HANDLE, std::size_t> liveKeys;  // to the slot
    // Containers a finalized key may have changed in this input.
    std::set<std::u16string> touched;
    std::vector<void*> buffers;
    std::set<void*> liveBuffers;
    std::vector<void*> states;
    std::set<void*> liveStates;
    // A record that looks like the provider's, in memory the harness owns.
    std::vector<std::uint32_t> forged = std::vector<std::uint32_t>(1024, 0);

    NCRYPT_PROV_HANDLE provider(InputReader& in) {
        switch (in.pick(8)) {
            case 0:
                return 0;
            case 1:
                forged[0] = 0x1000;
                forged[1] = kProviderSignature;
                return reinterpret_cast<NCRYPT_PROV_HANDLE>(forged.data());
            case 2:
                return keys.empty() ? 1 : keys[in.pick(keys.size())].handle;
            case 3:
                return in.number<std::uint32_t>();
            default:
                return providers.empty() ? 0 : providers[in.pick(providers.size())];
        }
    }
    NCRYPT_KEY_HANDLE key(InputReader& in) {
        switch (in.pick(8)) {
            case 0:
                return 0;
            case 1:
                forged[0] = 0x1000;
                forged[1] = kKeySignature;
                return reinterpret_cast<NCRYPT_KEY_HANDLE>(forged.data());
            case 2:
                return providers.empty() ? 1 : providers[in.pick(providers.size())];
            case 3:
                return in.number<std::uint32_t>();
            default:
                return keys.empty() ? 0 : keys[in.pick(keys.size())].handle;
        }
    }
    bool liveProvider(NCRYPT_PROV_HANDLE h) const { return liveProviders.count(h) != 0; }
    Key* liveKey(NCRYPT_KEY_HANDLE h) {
        const auto it = liveKeys.find(h);
        return it == liveKeys.end() ? nullptr : &keys[it->second];
    }
    void addKey(NCRYPT_KEY_HANDLE h, const Key& key) {
        liveKeys[h] = keys.size();
        keys.push_back(key);
    }
};

const NCRYPT_KEY_STORAGE_FUNCTION_TABLE& t() {
    return fixture().table();
}

const std::vector<std::u16string> kKeyNames = {
    u"rsa1024",    u"ec256",      u"ec384", u"exchange",     u"new-a", u"new-b",
    u"CNGLENGTHS", u"cngLengths", u"",      u"\u00ff\u00e9", u"\u4e2d"};
const std::vector<std::u16string> kAlgorithms = {
    u"RSA", u"RSA_SIGN", u"ECDSA_P256", u"ECDH_P256", u"ecdsa_p256", u"ECDSA_P384", u"DSA", u""};
const std::vector<std::u16string> kKeyProperties = {u"Algorithm Name", u"Algorithm Group",
                                                    u"Block Length",   u"Export Policy",
                                                    u"Key Usage",      u"Key Type",
                                                    u"Length",         u"Lengths",
                                                    u"Name",           u"Unique Name",
                                                    u"Use Context",    u"SmartCardKeyCertificate",
                                                    u"Security Descr", u"name",
                                                    u"Impl Type"};
const std::vector<std::u16string> kProviderProperties = {
    u"Impl Type",   u"Max Name Length",        u"Name",   u"Version",
    u"Use Context", u"Security Descr Support", u"Length", u"name"};
const std::vector<std::u16string> kBlobTypes = {
    u"PUBLICBLOB",         u"PRIVATEBLOB",    u"RSAPUBLICBLOB",    u"RSAPRIVATEBLOB",
    u"RSAFULLPRIVATEBLOB", u"PKCS7_ENVELOPE", u"PKCS8_PRIVATEKEY", u"CAPIPRIVATEBLOB",
    u"CAPIPUBLICBLOB",     u"ECCPRIVATEBLOB", u"ECCPUBLICBLOB",    u"rsapublicblob"};

std::vector<std::uint8_t> blobOf(InputReader& in) {
    static constexpr std::size_t kHashSizes[] = {16, 20, 32, 36, 48, 64, 0, 28, 512, 513};
    const std::size_t size = in.byte() % 2 == 0 ? kHashSizes[in.pick(std::size(kHashSizes))]
                                                : in.number<std::uint32_t>() % 700;
    const auto given = in.bytes(size);
    std::vector<std::uint8_t> blob(given.begin(), given.end());
    blob.resize(size, static_cast<std::uint8_t>(size));
    return blob;
}

void openProvider(InputReader& in, Model& model) {
    const auto name = textOf(in, {u"Korvane CSP ORVA V1.0", u"Other"});
    const bool noHandle = in.byte() % 16 == 0;
    NCRYPT_PROV_HANDLE handle = 0;
    const SECURITY_STATUS status =
        t().OpenProvider(noHandle ? nullptr : &handle, pointerOf(name), flagsOf(in));
    if (noHandle || !name || (name->size() + 1) * 2 >= 0x10000) {
        check(status == NTE_INVALID_PARAMETER);
        return;
    }
    check(status == 0 && handle != 0 && !model.liveProvider(handle));
    model.providers.push_back(handle);
    model.liveProviders.insert(handle);
    // The name comes back whole.
    Output out((name->size() + 1) * 2);
    check(t().GetProviderProperty(handle, u"Name", out.buffer(), out.cb, &out.result, 0) == 0);
    check(out.result == out.cb && std::memcmp(out.bytes.data(), name->c_str(), out.cb) == 0);
}

void freeProvider(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE handle = model.provider(in);
    const bool live = model.liveProvider(handle);
    check(t().FreeProvider(handle) == (live ? 0 : NTE_INVALID_HANDLE));
    model.liveProviders.erase(handle);
}

// The key entries that take a provider and a key handle check both first.
bool handlesRefused(SECURITY_STATUS status, bool provider, bool key) {
    if (!provider || !key) {
        check(status == NTE_INVALID_HANDLE);
        return true;
    }
    return false;
}

void openKey(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const auto name = textOf(in, kKeyNames);
    const std::uint32_t keySpec = in.byte() % 4;
    const bool noHandle = in.byte() % 16 == 0;
    NCRYPT_KEY_HANDLE handle = 0;
    const SECURITY_STATUS status =
        t().OpenKey(provider, noHandle ? nullptr : &handle, pointerOf(name), keySpec, flagsOf(in));
    check(isProviderStatus(status));
    if (handlesRefused(status, model.liveProvider(provider), true)) {
        return;
    }
    if (noHandle || !name) {
        check(status == NTE_INVALID_PARAMETER);
        return;
    }
    DWORD bits = 0;
    if (status == 0) {
        check(handle != 0 && model.liveKey(handle) == nullptr);
        DWORD size = 0;
        check(t().GetKeyProperty(provider, handle, u"Length", reinterpret_cast<PBYTE>(&bits),
                                 sizeof bits, &size, 0) == 0 &&
              size == sizeof bits);
    } else {
        check(handle == 0);
    }
    // A container the fixture made, as it made it: its keySpec opens with its
    // length, the other does not.
    for (const PremadeKey& premade : kPremade) {
        if (name == premade.name && model.touched.count(*name) == 0) {
            const bool itsSpec = (keySpec == 0 ? AT_SIGNATURE : keySpec) == premade.keySpec;
            check((status == 0) == itsSpec && (status != 0 || bits == premade.bits));
        }
    }
    if (status != 0) {
        return;
    }
    model.addKey(handle, {handle, true, bits >= 1024, bits, bits, {}});
}

void createKey(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const auto algorithm = textOf(in, kAlgorithms);
    const auto name = textOf(in, kKeyNames);
    const std::uint32_t keySpec = in.byte() % 4;
    const std::uint32_t flags = flagsOf(in);
    NCRYPT_KEY_HANDLE handle = 0;
    const SECURITY_STATUS status = t().CreatePersistedKey(provider, &handle, pointerOf(algorithm),
                                                          pointerOf(name), keySpec, flags);
    check(isProviderStatus(status));
    if (handlesRefused(status, model.liveProvider(provider), true)) {
        return;
    }
    if (status != 0) {
        check(handle == 0);
        return;
    }
    check(handle != 0 && model.liveKey(handle) == nullptr && algorithm.has_value() &&
          (flags & ~0xC0u) == 0);
    const bool rsa = algorithm->starts_with(u"RSA");
    model.addKey(handle, {handle, false, rsa, rsa ? 2048 : 256, 0, name.value_or(u"")});
}

void finalizeKey(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    const std::uint32_t flags = flagsOf(in);
    Model::Key* key = model.liveKey(handle);
    // Generating RSA keys of 2048 bits and more takes too long for a fuzzer;
    // every other length is asked for.
    if (key != nullptr && !key->finalized && key->rsa &&
        (key->lengthBits == 2048 || key->lengthBits == 4096)) {
        return;
    }
    const SECURITY_STATUS status = t().FinalizeKey(provider, handle, flags);
    check(isProviderStatus(status));
    if (handlesRefused(status, model.liveProvider(provider), key != nullptr)) {
        return;
    }
    if (key->finalized) {
        check(status == NTE_INVALID_HANDLE);
        return;
    }
    // A failed generation may have made the container all the same.
    model.touched.insert(key->name);
    if (status == 0) {
        key->finalized = true;
        key->realBits = static_cast<std::uint32_t>(key->lengthBits);
    }
}

void freeKey(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    const SECURITY_STATUS status = t().FreeKey(provider, handle);
    if (handlesRefused(status, model.liveProvider(provider), model.liveKey(handle) != nullptr)) {
        return;
    }
    check(status == 0);
    model.liveKeys.erase(handle);
}

void deleteKey(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    const std::uint32_t flags = flagsOf(in);
    const SECURITY_STATUS status = t().DeleteKey(provider, handle, flags);
    if (handlesRefused(status, model.liveProvider(provider), model.liveKey(handle) != nullptr)) {
        return;
    }
    check(status == ((flags & ~0x40u) != 0 ? NTE_BAD_FLAGS : NTE_NOT_SUPPORTED));
}

// The get convention: a size on every answer, the value only where it fits.
void checkGet(SECURITY_STATUS status, const Output& out) {
    check(isProviderStatus(status));
    out.checkWrites(status);
    if (status == NTE_BUFFER_TOO_SMALL) {
        check(!out.null && out.result > out.cb && out.untouchedFrom(0));
    }
}

// The call with the buffer the input gives; after a size query that
// succeeded, again with exactly that room, which must give the same size.
template <typename Call>
SECURITY_STATUS sizedCall(Output& out, Call&& call) {
    const SECURITY_STATUS status = call(out.buffer(), out.cb, out.resultPointer());
    checkGet(status, out);
    if (status == 0 && out.null && !out.noResult && out.result <= 0x10000) {
        Output exact(std::size_t{out.result});
        const SECURITY_STATUS again = call(exact.buffer(), exact.cb, &exact.result);
        exact.checkWrites(again);
        check(again == 0 && exact.result == out.result);
    }
    return status;
}

void getProviderProperty(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const auto name = textOf(in, kProviderProperties);
    Output out(in);
    const std::uint32_t flags = flagsOf(in);
    const SECURITY_STATUS status = sizedCall(out, [&](PBYTE buffer, DWORD cb, DWORD* result) {
        return t().GetProviderProperty(provider, pointerOf(name), buffer, cb, result, flags);
    });
    if (!model.liveProvider(provider)) {
        check(status == NTE_INVALID_HANDLE);
    }
}

void setProviderProperty(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const auto name = textOf(in, kProviderProperties);
    std::vector<std::uint8_t> value = blobOf(in);
    const bool noValue = in.byte() % 16 == 0;
    const SECURITY_STATUS status =
        t().SetProviderProperty(provider, pointerOf(name), noValue ? nullptr : value.data(),
                                static_cast<DWORD>(value.size()), flagsOf(in));
    check(isProviderStatus(status));
    if (!model.liveProvider(provider)) {
        check(status == NTE_INVALID_HANDLE);
    }
}

void getKeyProperty(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    const auto name = textOf(in, kKeyProperties);
    Output out(in);
    const std::uint32_t flags = flagsOf(in);
    const SECURITY_STATUS status = sizedCall(out, [&](PBYTE buffer, DWORD cb, DWORD* result) {
        return t().GetKeyProperty(provider, handle, pointerOf(name), buffer, cb, result, flags);
    });
    const Model::Key* key = model.liveKey(handle);
    if (handlesRefused(status, model.liveProvider(provider), key != nullptr)) {
        return;
    }
    // The length is what was set last.
    if (status == 0 && name == u"Length" && !out.null && !out.noResult) {
        DWORD bits = 0;
        std::memcpy(&bits, out.bytes.data(), sizeof bits);
        check(out.result == 4 && bits == static_cast<DWORD>(key->lengthBits));
    }
}

void setKeyProperty(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    const auto name = textOf(in, kKeyProperties);
    std::vector<std::uint8_t> value = blobOf(in);
    if (in.byte() % 2 == 0 && value.size() >= 4) {
        // A length worth generating, or one the module refuses.
        static constexpr std::uint32_t kLengths[] = {1024, 256,    384,    0,
                                                     1025, 0x3FFF, 0x4000, 0xFFFFFFFF};
        const std::uint32_t bits = kLengths[in.pick(std::size(kLengths))];
        value.resize(4);
        std::memcpy(value.data(), &bits, 4);
    }
    const bool noValue = in.byte() % 16 == 0;
    const SECURITY_STATUS status =
        t().SetKeyProperty(provider, handle, pointerOf(name), noValue ? nullptr : value.data(),
                           static_cast<DWORD>(value.size()), flagsOf(in));
    Model::Key* key = model.liveKey(handle);
    if (handlesRefused(status, model.liveProvider(provider), key != nullptr)) {
        return;
    }
    if (status == 0 && name == u"Length") {
        check(value.size() == 4);
        std::int32_t bits = 0;
        std::memcpy(&bits, value.data(), 4);
        key->lengthBits = bits;
    }
}

void signHash(InputReader& in, Model& model) {
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    std::vector<std::uint8_t> hash = blobOf(in);
    Output out(in);
    const std::uint32_t flags = flagsOf(in);
    const SECURITY_STATUS status = t().SignHash(
        0, handle, nullptr, hash.empty() ? nullptr : hash.data(), static_cast<DWORD>(hash.size()),
        out.buffer(), out.cb, out.resultPointer(), flags);
    out.checkWrites(status);
    const Model::Key* key = model.liveKey(handle);
    if (handlesRefused(status, true, key != nullptr)) {
        return;
    }
    if (status != 0 || out.null || out.noResult) {
        return;
    }
    // What the key signed, it verifies; one bit changed, it does not.
    std::vector<std::uint8_t> signature(out.bytes.begin(), out.bytes.begin() + out.result);
    check(t().VerifySignature(0, handle, nullptr, hash.data(), static_cast<DWORD>(hash.size()),
                              signature.data(), out.result, flags) == 0);
    if (!signature.empty()) {
        signature[in.pick(signature.size())] ^= 0x01;
        check(t().VerifySignature(0, handle, nullptr, hash.data(), static_cast<DWORD>(hash.size()),
                                  signature.data(), out.result, flags) != 0);
    }
}

void verifySignature(InputReader& in, Model& model) {
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    std::vector<std::uint8_t> hash = blobOf(in);
    std::vector<std::uint8_t> signature = blobOf(in);
    const std::vector<std::uint8_t> given = signature;
    const SECURITY_STATUS status = t().VerifySignature(
        0, handle, nullptr, hash.empty() ? nullptr : hash.data(), static_cast<DWORD>(hash.size()),
        signature.empty() ? nullptr : signature.data(), static_cast<DWORD>(signature.size()),
        flagsOf(in));
    // The caller's signature is read, never changed.
    check(signature == given);
    handlesRefused(status, true, model.liveKey(handle) != nullptr);
}

void encrypt(InputReader& in, Model& model) {
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    std::vector<std::uint8_t> plain = blobOf(in);
    const std::vector<std::uint8_t> given = plain;
    Output out(in);
    const std::uint32_t flags = flagsOf(in);
    const SECURITY_STATUS status = t().Encrypt(0, handle, plain.empty() ? nullptr : plain.data(),
                                               static_cast<DWORD>(plain.size()), nullptr,
                                               out.buffer(), out.cb, out.resultPointer(), flags);
    check(isProviderStatus(status) && plain == given);
    out.checkWrites(status);
    const Model::Key* key = model.liveKey(handle);
    if (handlesRefused(status, true, key != nullptr)) {
        return;
    }
    if (status == NTE_BUFFER_TOO_SMALL) {
        check(!out.null && out.result > out.cb && out.untouchedFrom(0));
    }
    if (status != 0 || out.null || out.noResult) {
        return;
    }
    // What was encrypted decrypts to what was given, while the length
    // property still says the key's size.
    Output back(out.result);
    std::vector<std::uint8_t> cipher(out.bytes.begin(), out.bytes.begin() + out.result);
    const SECURITY_STATUS decrypted = t().Decrypt(0, handle, cipher.data(), out.result, nullptr,
                                                  back.buffer(), back.cb, &back.result, flags);
    back.checkWrites(decrypted);
    if (key->rsa && key->lengthBits == static_cast<std::int64_t>(key->realBits)) {
        check(decrypted == 0 && back.result == given.size() &&
              std::equal(given.begin(), given.end(), back.bytes.begin()));
    }
}

void decrypt(InputReader& in, Model& model) {
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    std::vector<std::uint8_t> cipher = blobOf(in);
    const std::vector<std::uint8_t> given = cipher;
    Output out(in);
    const SECURITY_STATUS status = t().Decrypt(
        0, handle, cipher.empty() ? nullptr : cipher.data(), static_cast<DWORD>(cipher.size()),
        nullptr, out.buffer(), out.cb, out.resultPointer(), flagsOf(in));
    check(isProviderStatus(status) && cipher == given);
    out.checkWrites(status);
    handlesRefused(status, true, model.liveKey(handle) != nullptr);
}

void exportKey(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const NCRYPT_KEY_HANDLE handle = model.key(in);
    const auto blobType = textOf(in, kBlobTypes);
    Output out(in);
    const std::uint32_t flags = flagsOf(in);
    const SECURITY_STATUS status = sizedCall(out, [&](PBYTE buffer, DWORD cb, DWORD* result) {
        return t().ExportKey(provider, handle, 0, pointerOf(blobType), nullptr, buffer, cb, result,
                             flags);
    });
    handlesRefused(status, model.liveProvider(provider), model.liveKey(handle) != nullptr);
}

// A state for EnumKeys: none yet, one of the walks, or a stranger.
void* stateOf(InputReader& in, Model& model) {
    switch (in.pick(4)) {
        case 0:
            return nullptr;
        case 1:
            return reinterpret_cast<void*>(static_cast<std::uintptr_t>(in.number<std::uint32_t>()));
        default:
            return model.states.empty() ? nullptr : model.states[in.pick(model.states.size())];
    }
}

void enumKeys(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    void* state = stateOf(in, model);
    void* const given = state;
    NCryptKeyName* name = nullptr;
    const bool noName = in.byte() % 16 == 0;
    const SECURITY_STATUS status =
        t().EnumKeys(provider, nullptr, noName ? nullptr : &name, &state, flagsOf(in));
    check(isProviderStatus(status));
    if (handlesRefused(status, model.liveProvider(provider), true)) {
        return;
    }
    if (given == nullptr && state != nullptr) {
        check(model.liveStates.count(state) == 0);
        model.states.push_back(state);
        model.liveStates.insert(state);
    } else {
        check(state == given);
    }
    if (status != 0) {
        check(name == nullptr);
        return;
    }
    // A walk goes on only from a state it handed out.
    check(given == nullptr || model.liveStates.count(given) != 0);
    check(name != nullptr && name->pszName != nullptr && name->pszAlgid != nullptr);
    const std::u16string algorithm(name->pszAlgid);
    check(algorithm == u"RSA" || algorithm == u"ECDSA_P256" || algorithm == u"ECDSA_P384");
    check(name->dwLegacyKeySpec == AT_SIGNATURE || name->dwLegacyKeySpec == AT_KEYEXCHANGE);
    model.buffers.push_back(name);
    model.liveBuffers.insert(name);
}

void enumAlgorithms(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    DWORD count = 0;
    NCryptAlgorithmName* list = nullptr;
    const bool noList = in.byte() % 16 == 0;
    const std::uint32_t operations = flagsOf(in);
    const std::uint32_t flags = flagsOf(in);
    const SECURITY_STATUS status =
        t().EnumAlgorithms(provider, operations, &count, noList ? nullptr : &list, flags);
    check(isProviderStatus(status));
    if (handlesRefused(status, model.liveProvider(provider), true) || status != 0) {
        return;
    }
    check(count == 3 && list != nullptr && std::u16string(list[0].pszName) == u"RSA");
    model.buffers.push_back(list);
    model.liveBuffers.insert(list);
}

// FreeBuffer takes what the provider handed out once; anything else, a block
// freed already included, is left alone.
void freeBuffer(InputReader& in, Model& model) {
    void* value = nullptr;
    switch (in.pick(5)) {
        case 0:
            value = model.buffers.empty() ? nullptr : model.buffers[in.pick(model.buffers.size())];
            break;
        case 1:
            value = model.states.empty() ? nullptr : model.states[in.pick(model.states.size())];
            break;
        case 2:
            value = model.forged.data();
            break;
        case 3:
            value = model.keys.empty()
                        ? nullptr
                        : reinterpret_cast<void*>(model.keys[in.pick(model.keys.size())].handle);
            break;
        default:
            value = nullptr;
            break;
    }
    check(t().FreeBuffer(value) == 0);
    model.liveBuffers.erase(value);
    model.liveStates.erase(value);
}

void unusedEntries(InputReader& in, Model& model) {
    const NCRYPT_PROV_HANDLE provider = model.provider(in);
    const NCRYPT_KEY_HANDLE key = model.key(in);
    NCRYPT_KEY_HANDLE imported = 0;
    check(t().ImportKey(provider, key, u"RSAPUBLICBLOB", nullptr, &imported, nullptr, 0, 0) ==
              ERROR_NOT_SUPPORTED &&
          imported == 0);
    check(t().PromptUser(provider, key, u"op", 0) == NTE_NOT_SUPPORTED);
    check(t().NotifyChangeKey(provider, nullptr, 0) == NTE_NOT_SUPPORTED);
    check(t().SecretAgreement(provider, key, key, nullptr, 0) == NTE_NOT_SUPPORTED);
    check(t().FreeSecret(provider, 0) == NTE_NOT_SUPPORTED);
    Output out(in);
    const SECURITY_STATUS status = t().DeriveKey(provider, 0, nullptr, nullptr, out.buffer(),
                                                 out.cb, out.resultPointer(), flagsOf(in));
    check(isProviderStatus(status) && status != 0 && out.untouchedFrom(0) &&
          out.result == 0xFFFFFFFF);
    if (!model.liveProvider(provider)) {
        check(status == NTE_INVALID_HANDLE);
    }
    const auto name = textOf(in, kAlgorithms);
    const SECURITY_STATUS supported = t().IsAlgSupported(provider, pointerOf(name), flagsOf(in));
    check(isProviderStatus(supported));
    if (!model.liveProvider(provider)) {
        check(supported == NTE_INVALID_HANDLE);
    }
}

// Everything the input left is freed; the module then holds the contexts it
// held before the input, no more.
void freeEverything(Model& model) {
    for (const auto& [handle, slot] : model.liveKeys) {
        check(!model.liveProviders.empty());
        check(t().FreeKey(*model.liveProviders.begin(), handle) == 0);
    }
    for (void* state : model.liveStates) {
        check(t().FreeBuffer(state) == 0);
    }
    for (void* buffer : model.liveBuffers) {
        check(t().FreeBuffer(buffer) == 0);
    }
    for (const NCRYPT_PROV_HANDLE provider : model.liveProviders) {
        check(t().FreeProvider(provider) == 0);
    }
    check(fixture().liveContexts() == fixture().baseline());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fixture().reset();
    InputReader in(data, size);
    Model model;
    // One provider to start with, kept open so that keys can always be freed.
    NCRYPT_PROV_HANDLE first = 0;
    check(t().OpenProvider(&first, u"Korvane CSP ORVA V1.0", 0) == 0);
    model.providers.push_back(first);
    model.liveProviders.insert(first);
    for (std::size_t step = 0; step < kMaxSteps && !in.empty(); ++step) {
        using Step = void (*)(InputReader&, Model&);
        static constexpr Step kSteps[] = {openProvider,
                                          freeProvider,
                                          openKey,
                                          createKey,
                                          finalizeKey,
                                          freeKey,
                                          deleteKey,
                                          getProviderProperty,
                                          setProviderProperty,
                                          getKeyProperty,
                                          setKeyProperty,
                                          signHash,
                                          verifySignature,
                                          encrypt,
                                          decrypt,
                                          exportKey,
                                          enumKeys,
                                          enumAlgorithms,
                                          freeBuffer,
                                          unusedEntries};
        kSteps[in.pick(std::size(kSteps))](in, model);
    }
    // Keys are freed through a provider that is still open.
    if (model.liveProviders.empty()) {
        NCRYPT_PROV_HANDLE last = 0;
        check(t().OpenProvider(&last, u"Korvane CSP ORVA V1.0", 0) == 0);
        model.liveProviders.insert(last);
    }
    freeEverything(model);
    return 0;
}
