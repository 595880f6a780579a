// The provider against qzcore3: binding, the status mapping, handles, the key
// lifecycle, operations' checks, properties and enumeration. Signatures and
// blobs are checked against OpenSSL in cng-host's end-to-end test.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ksp_fixture.h"
#include "win32/cryptoapi.h"
#include "win32/errors.h"

namespace orva::ksp_test {
namespace {

using namespace orva::cng;

class Ksp : public ::testing::Test {
  protected:
    void SetUp() override {
        router.emplace(env.providerPath().string());
        provider.emplace(*router);
        t = &router->table();
        ph = provider->handle();
    }

    Key rsaKey(std::u16string_view name, std::optional<std::uint32_t> bits = std::nullopt) {
        return made(name, {u"RSA", bits, 0, 0});
    }
    Key ecKey(std::u16string_view name, std::uint32_t bits = 256) {
        return made(name, {u"ECDSA_P256", bits, 0, 0});
    }
    Key made(std::u16string_view name, const KeyOptions& options) {
        std::optional<Key> key;
        EXPECT_EQ(createKey(*provider, name, options, key), 0);
        return std::move(*key);
    }
    // An unfinalized key.
    NCRYPT_KEY_HANDLE created(const char16_t* name, const char16_t* alg = u"RSA") {
        NCRYPT_KEY_HANDLE h = 0;
        EXPECT_EQ(t->CreatePersistedKey(ph, &h, alg, name, 0, 0), 0);
        return h;
    }
    // An entry point of the loaded CSP module.
    static FARPROC core(const char* entry) {
        return GetProcAddress(
            GetModuleHandleA((std::string(KSP_TEST_BIN_DIR) + "/qzcore3.so").c_str()), entry);
    }
    DWORD liveContexts() {
        auto fn = reinterpret_cast<DWORD (*)()>(core("QZCore3LiveContexts"));
        return fn == nullptr ? 0xFFFFFFFFu : fn();
    }
    // The public key a container holds for keySpec, empty when it holds none.
    Bytes containerKey(std::u16string_view name, DWORD keySpec) {
        std::optional<Key> key;
        return openKey(*provider, name, keySpec, key) == 0 ? exportKey(*key, u"ECCPUBLICBLOB").bytes
                                                           : Bytes{};
    }

    KspEnvironment env;
    std::optional<KspRouter> router;
    std::optional<Provider> provider;
    const NCRYPT_KEY_STORAGE_FUNCTION_TABLE* t = nullptr;
    NCRYPT_PROV_HANDLE ph = 0;
};

const Bytes kSha256(32, 0x5A);

// DWORDs as the provider writes them, little-endian one after another.
Bytes dwords(std::initializer_list<DWORD> values) {
    Bytes b;
    for (const DWORD v : values) {
        b.insert(b.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                           static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
    }
    return b;
}

GetKeyStorageInterfaceFn interfaceEntry(HMODULE module) {
    return reinterpret_cast<GetKeyStorageInterfaceFn>(
        GetProcAddress(module, "GetKeyStorageInterface"));
}

// --- binding -------------------------------------------------------------------

TEST(KspBinding, ModuleFoundByFileNameRegistryOrSystemFolder) {
    struct Case {
        const char* what;
        std::string file;
        std::optional<std::string> registration;  // none: the built module
        std::string providerKey;
        bool moduleInSystemFolder;
        bool loads;
    };
    const std::string hex260 = "hex:" + [] {
        std::string s;
        for (int i = 0; i < 260; ++i)
            s += i ? ",41" : "41";
        return s;
    }();
    const std::string longName(206, 'p');
    const Case cases[] = {
        {"named file reads its registration", kNamedProvider, std::nullopt, "Korvane CSP ORVA V1.0",
         false, true},
        {"plain name takes the default path", "QZKSP.so", std::nullopt, "Korvane CSP ORVA V1.0",
         true, true},
        {"plain name without a default module", "QZKSP.so", std::nullopt, "Korvane CSP ORVA V1.0",
         false, false},
        {"no dot after the hash", "QZKSP#abc", std::nullopt, "abc", false, false},
        {"value without a NUL is unreadable", kNamedProvider, "\"Image Path\"=" + hex260,
         "Korvane CSP ORVA V1.0", false, false},
        {"unterminated value falls back to the default", kNamedProvider, "\"Image Path\"=" + hex260,
         "Korvane CSP ORVA V1.0", true, true},
        {"missing value", kNamedProvider, "\"Other\"=\"x\"", "Korvane CSP ORVA V1.0", false, false},
        {"registration names no module", kNamedProvider, "\"Image Path\"=\"/nonexistent/x.so\"",
         "Korvane CSP ORVA V1.0", true, false},
        {"key path too long for the registry", "QZKSP#" + longName + ".so", std::nullopt, longName,
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const KspEnvironment env(c.file, c.registration, c.providerKey);
        if (c.moduleInSystemFolder) {
            const fs::path folder = env.dir() / "system" / "KorvaneV5" / "Korvane CSP v5.1";
            fs::create_directories(folder);
            fs::copy_file(fs::path(KSP_TEST_BIN_DIR) / "qzcore3.so", folder / "qzcore3.so");
        }
        if (c.loads) {
            EXPECT_NO_THROW(KspRouter router(env.providerPath().string()));
        } else {
            EXPECT_THROW(KspRouter router(env.providerPath().string()), RouterError);
        }
    }
}

TEST_F(Ksp, InterfaceHandsOutTheTableInOrder) {
    const auto entry = interfaceEntry(router->module());
    EXPECT_EQ(entry(nullptr, nullptr, 0), STATUS_INVALID_PARAMETER);
    NCRYPT_KEY_STORAGE_FUNCTION_TABLE* table = nullptr;
    EXPECT_EQ(entry(nullptr, &table, 0), 0);
    EXPECT_EQ(table, t);
    std::set<void*> pointers;
    const auto* first = reinterpret_cast<void* const*>(&t->OpenProvider);
    for (int i = 0; i < 26; ++i) {
        EXPECT_NE(first[i], nullptr);
        pointers.insert(first[i]);
    }
    EXPECT_EQ(pointers.size(), 26u);
}

TEST(KspCache, FailedWalkAnswersFiveAndIsWalkedAgain) {
    const KspEnvironment env;
    env.failNext("CPGetProvParam", static_cast<std::uint32_t>(NTE_BAD_KEYSET));
    const KspRouter router(env.providerPath().string());
    EXPECT_EQ(router.interfaceStatus(), 5);
    const auto entry = interfaceEntry(router.module());
    NCRYPT_KEY_STORAGE_FUNCTION_TABLE* table = nullptr;
    EXPECT_EQ(entry(nullptr, &table, 0), 0);
    // Filled now: a failing module is not asked again.
    env.failNext("CPGetProvParam", static_cast<std::uint32_t>(NTE_BAD_KEYSET));
    EXPECT_EQ(entry(nullptr, &table, 0), 0);
}

TEST(KspCache, HoldsTheFirst64RecordsAndAnswersLengthsFromThem) {
    struct Case {
        int records;
        bool withRsaSign;
        std::size_t walkCalls;    // CPGetProvParam calls of the walk
        SECURITY_STATUS lengths;  // "Lengths" of an RSA key
    };
    for (const Case c :
         {Case{70, true, 64, 0}, Case{3, true, 4, 0}, Case{3, false, 4, NTE_NOT_SUPPORTED}}) {
        SCOPED_TRACE(c.records);
        const KspEnvironment env;
        std::string list = "[";
        for (int i = 0; i < c.records; ++i) {
            const bool rsa = i == 0 && c.withRsaSign;
            list += std::string(i ? "," : "") + "{\"id\": " + (rsa ? "9216" : "32780") +
                    ", \"default\": 2048, \"min\": 512, \"max\": 4096, \"name\": \"a\"}";
        }
        testing::writeFile(env.store() / "csp-algorithms.json", list + "]");
        env.traceOn();
        const KspRouter router(env.providerPath().string());
        EXPECT_EQ(router.interfaceStatus(), 0);
        const auto trace = env.takeTrace();
        EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                                [](const std::string& line) {
                                    return line.rfind("CPGetProvParam 22 ", 0) == 0;
                                }),
                  static_cast<long>(c.walkCalls));
        const Provider provider(router);
        std::optional<Key> key;
        ASSERT_EQ(createKey(provider, u"lengths", {}, key), 0);
        const Output lengths = getKeyProperty(*key, u"Lengths");
        EXPECT_EQ(lengths.status, c.lengths);
        if (c.lengths == 0) {
            EXPECT_EQ(lengths.bytes, dwords({512, 4096, 0, 2048}));
        }
    }
}

TEST(KspBinding, MissingEntryPointIsNeverCalled) {
    const KspEnvironment env(kNamedProvider,
                             imagePathLine(std::string(KSP_TEST_BIN_DIR) + "/qzcore3_partial.so"));
    const KspRouter router(env.providerPath().string());
    const Provider provider(router);
    std::optional<Key> key;
    ASSERT_EQ(createKey(provider, u"partial", {}, key), 0);
    EXPECT_EQ(encrypt(*key, Bytes(16, 1)).status, NTE_NOT_SUPPORTED);
    EXPECT_EQ(signHash(*key, kSha256, 0).status, 0);
}

// --- status mapping -------------------------------------------------------------

TEST_F(Ksp, ModuleFailuresMapToStatusesAndNeverToSuccess) {
    const Key key = rsaKey(u"mapping");
    const Bytes signature = signHash(key, kSha256, 0).bytes;
    struct Case {
        std::uint32_t lastError;
        SECURITY_STATUS mapped;  // Encrypt, Decrypt, Export, Open, Finalize, EnumKeys
        SECURITY_STATUS raw;     // SignHash, VerifySignature, SetKeyProperty
    };
    const Case cases[] = {
        {0, NTE_INTERNAL_ERROR, NTE_INTERNAL_ERROR},
        {0xC0000008, NTE_INVALID_HANDLE, static_cast<SECURITY_STATUS>(0xC0000008)},
        {0xC000000D, NTE_INVALID_PARAMETER, static_cast<SECURITY_STATUS>(0xC000000D)},
        {0xC0000017, NTE_NO_MEMORY, static_cast<SECURITY_STATUS>(0xC0000017)},
        {0xC000009A, NTE_NO_MEMORY, static_cast<SECURITY_STATUS>(0xC000009A)},
        {0xC0000023, NTE_BUFFER_TOO_SMALL, static_cast<SECURITY_STATUS>(0xC0000023)},
        {0xC00000BB, NTE_NOT_SUPPORTED, static_cast<SECURITY_STATUS>(0xC00000BB)},
        {0xC000A000, NTE_BAD_SIGNATURE, static_cast<SECURITY_STATUS>(0xC000A000)},
        {0xC00000E5, NTE_INTERNAL_ERROR, static_cast<SECURITY_STATUS>(0xC00000E5)},
        {0x54F, NTE_INTERNAL_ERROR, NTE_INTERNAL_ERROR},
        {87, NTE_INTERNAL_ERROR, NTE_INTERNAL_ERROR},
        {ERROR_MORE_DATA, NTE_BUFFER_TOO_SMALL, NTE_BUFFER_TOO_SMALL},
        {0x80090016, NTE_INTERNAL_ERROR, NTE_BAD_KEYSET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastError);
        env.failNext("CPEncrypt", c.lastError);
        EXPECT_EQ(encrypt(key, Bytes(16, 1)).status, c.mapped);
        env.failNext("CPExportKey", c.lastError);
        EXPECT_EQ(exportKey(key, u"RSAPUBLICBLOB").status, c.mapped);
        env.failNext("CPGetUserKey", c.lastError);
        std::optional<Key> opened;
        EXPECT_EQ(openKey(*provider, u"mapping", 0, opened), c.mapped);
        EXPECT_FALSE(opened);
        env.failNext("CPSignHash", c.lastError);
        EXPECT_EQ(signHash(key, kSha256, 0).status, c.raw);
        env.failNext("CPVerifySignature", c.lastError);
        EXPECT_EQ(verifySignature(key, kSha256, signature, 0), c.raw);
        env.failNext("CPSetKeyParam", c.lastError);
        EXPECT_EQ(setKeyProperty(key, u"SmartCardKeyCertificate", Bytes{0x30}), c.raw);
    }
    EXPECT_EQ(verifySignature(key, kSha256, signature, 0), 0);
}

// --- handles ---------------------------------------------------------------------

TEST_F(Ksp, StaleSwappedAndNullHandlesAreRefused) {
    // Made before the other is freed, so the heap cannot hand it the same address.
    const NCRYPT_KEY_HANDLE live = created(u"live");
    NCRYPT_KEY_HANDLE freed = created(u"freed");
    ASSERT_EQ(t->FreeKey(ph, freed), 0);
    NCRYPT_PROV_HANDLE freedProvider = 0;
    ASSERT_EQ(t->OpenProvider(&freedProvider, u"x", 0), 0);
    ASSERT_EQ(t->FreeProvider(freedProvider), 0);
    DWORD size = 0;
    const NCRYPT_KEY_HANDLE badKeys[] = {0, freed, ph, 0x1234};
    for (const NCRYPT_KEY_HANDLE key : badKeys) {
        EXPECT_EQ(t->FreeKey(ph, key), NTE_INVALID_HANDLE);
        EXPECT_EQ(t->FinalizeKey(ph, key, 0), NTE_INVALID_HANDLE);
        EXPECT_EQ(t->SignHash(ph, key, nullptr, const_cast<PBYTE>(kSha256.data()), 32, nullptr, 0,
                              &size, 0),
                  NTE_INVALID_HANDLE);
        EXPECT_EQ(t->GetKeyProperty(ph, key, u"Length", nullptr, 0, &size, 0), NTE_INVALID_HANDLE);
        EXPECT_EQ(size, 0u);
    }
    const NCRYPT_PROV_HANDLE badProviders[] = {0, freedProvider, live};
    for (const NCRYPT_PROV_HANDLE p : badProviders) {
        EXPECT_EQ(t->FreeProvider(p), NTE_INVALID_HANDLE);
        EXPECT_EQ(t->GetProviderProperty(p, u"Name", nullptr, 0, &size, 0), NTE_INVALID_HANDLE);
        EXPECT_EQ(t->FreeKey(p, live), NTE_INVALID_HANDLE);
    }
    EXPECT_EQ(t->FreeKey(ph, live), 0);
    EXPECT_EQ(t->FreeKey(ph, live), NTE_INVALID_HANDLE);
}

TEST_F(Ksp, FreedHandlesStayRefusedWhenTheirMemoryIsReused) {
    DWORD size = 0;
    for (int i = 0; i < 8; ++i) {
        const NCRYPT_KEY_HANDLE old = created(u"reused");
        ASSERT_EQ(t->FreeKey(ph, old), 0);
        const NCRYPT_KEY_HANDLE next = created(u"reused");
        EXPECT_EQ(t->GetKeyProperty(ph, old, u"Length", nullptr, 0, &size, 0), NTE_INVALID_HANDLE);
        EXPECT_EQ(t->FreeKey(ph, old), NTE_INVALID_HANDLE);
        EXPECT_EQ(t->GetKeyProperty(ph, next, u"Length", nullptr, 0, &size, 0), 0);
        EXPECT_EQ(t->FreeKey(ph, next), 0);
        NCRYPT_PROV_HANDLE oldProvider = 0;
        NCRYPT_PROV_HANDLE nextProvider = 0;
        ASSERT_EQ(t->OpenProvider(&oldProvider, u"reused", 0), 0);
        ASSERT_EQ(t->FreeProvider(oldProvider), 0);
        ASSERT_EQ(t->OpenProvider(&nextProvider, u"reused", 0), 0);
        EXPECT_EQ(t->GetProviderProperty(oldProvider, u"Name", nullptr, 0, &size, 0),
                  NTE_INVALID_HANDLE);
        EXPECT_EQ(t->FreeProvider(oldProvider), NTE_INVALID_HANDLE);
        EXPECT_EQ(t->FreeProvider(nextProvider), 0);
    }
}

// Threads share a key and a provider handle and all try to free both while
// others sign and read and write properties through them: each is freed
// once, every other call is served or refused, and no module context leaks.
// The key was opened through the provider that is freed: it outlives it.
TEST_F(Ksp, ThreadsRacingToUseAndFreeHandlesAreServedOrRefused) {
    ecKey(u"shared");
    const DWORD contexts = liveContexts();
    constexpr int kThreads = 4;
    constexpr int kCalls = 24;
    for (int round = 0; round < 30; ++round) {
        NCRYPT_PROV_HANDLE extra = 0;
        ASSERT_EQ(t->OpenProvider(&extra, u"extra", 0), 0);
        NCRYPT_KEY_HANDLE key = 0;
        ASSERT_EQ(t->OpenKey(extra, &key, u"shared", 0, 0), 0);
        std::atomic<int> keysFreed{0};
        std::atomic<int> providersFreed{0};
        std::atomic<int> unexpected{0};
        auto expect = [&](SECURITY_STATUS status, std::initializer_list<SECURITY_STATUS> allowed) {
            if (std::find(allowed.begin(), allowed.end(), status) == allowed.end()) {
                ++unexpected;
            }
        };
        auto work = [&](int id) {
            BYTE context[] = {'c', 0, 't', 0, 'x', 0};
            for (int i = 0; i < kCalls; ++i) {
                BYTE out[128];
                DWORD size = 0;
                PBYTE hash = const_cast<PBYTE>(kSha256.data());
                expect(t->SignHash(ph, key, nullptr, hash, 32, out, sizeof out, &size, 0),
                       {0, NTE_INVALID_HANDLE});
                expect(t->SetKeyProperty(ph, key, u"Use Context", context, sizeof context, 0),
                       {0, NTE_INVALID_HANDLE});
                expect(t->GetKeyProperty(ph, key, u"Use Context", out, sizeof out, &size, 0),
                       {0, NTE_NOT_FOUND, NTE_INVALID_HANDLE});
                expect(t->SetProviderProperty(extra, u"Use Context", context, sizeof context, 0),
                       {0, NTE_INVALID_HANDLE});
                expect(t->GetProviderProperty(extra, u"Use Context", out, sizeof out, &size, 0),
                       {0, NTE_INTERNAL_ERROR, NTE_INVALID_HANDLE});
                if (i == kCalls / 2 + id % 2) {
                    keysFreed += t->FreeKey(ph, key) == 0 ? 1 : 0;
                    providersFreed += t->FreeProvider(extra) == 0 ? 1 : 0;
                }
            }
        };
        std::vector<std::thread> threads;
        for (int id = 0; id < kThreads; ++id) {
            threads.emplace_back(work, id);
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(keysFreed, 1);
        EXPECT_EQ(providersFreed, 1);
        EXPECT_EQ(unexpected, 0);
    }
    EXPECT_EQ(liveContexts(), contexts);
}

// Handles the caller never freed end with the provider library, without a
// call into the module unloaded before them, and nothing leaks.
TEST(KspUnload, HandlesLeftOpenEndWithTheLibrary) {
    const KspEnvironment env;
    {
        const KspRouter router(env.providerPath().string());
        const auto& t = router.table();
        NCRYPT_PROV_HANDLE p = 0;
        NCRYPT_KEY_HANDLE created = 0;
        NCRYPT_KEY_HANDLE opened = 0;
        ASSERT_EQ(t.OpenProvider(&p, u"left", 0), 0);
        ASSERT_EQ(t.CreatePersistedKey(p, &created, u"ECDSA_P256", u"left", 0, 0), 0);
        ASSERT_EQ(t.FinalizeKey(p, created, 0), 0);
        ASSERT_EQ(t.OpenKey(p, &opened, u"left", 0, 0), 0);
    }
    const KspRouter router(env.providerPath().string());
    const Provider provider(router);
    std::optional<Key> key;
    EXPECT_EQ(openKey(provider, u"left", 0, key), 0);
}

// --- lifecycle ---------------------------------------------------------------------

TEST_F(Ksp, CreatePersistedKeyChecksInOrder) {
    const Key existing = rsaKey(u"taken");
    const Key reserved = rsaKey(u"CNGLENGTHS");
    struct Case {
        const char16_t* alg;
        std::u16string name;
        DWORD flags;
        SECURITY_STATUS expected;
    };
    const Case cases[] = {
        {u"RSA", u"a", 0, 0},
        {u"RSA_SIGN", u"a", 0, 0},
        {u"ECDSA_P256", u"a", 0, 0},
        {u"ECDH_P256", u"a", 0, 0},
        {u"ecdsa_p256", u"a", 0, NTE_NOT_SUPPORTED},
        {u"ECDSA_P384", u"a", 0, NTE_NOT_SUPPORTED},
        {u"RSA", u"a", 0x20, NTE_BAD_FLAGS},
        {u"RSA", u"a", NCRYPT_SILENT_FLAG | NCRYPT_OVERWRITE_KEY_FLAG, 0},
        {u"RSA", std::u16string(129, u'n'), 0, 0},
        {u"RSA", std::u16string(130, u'n'), 0, NTE_INVALID_PARAMETER},
        {u"RSA", u"\u041a\u043b\u044e\u0447", 0, NTE_INVALID_PARAMETER},
        {u"RSA", u"abc\u04161", 0, NTE_INVALID_PARAMETER},
        {u"RSA", u"taken", 0, NTE_EXISTS},
        {u"RSA", u"taken", NCRYPT_OVERWRITE_KEY_FLAG, 0},
        {u"RSA", u"CNGLENGTHS", 0, 0},
        {u"RSA", u"cNgLeNgThS", 0, 0},
    };
    const DWORD contexts = liveContexts();
    for (const Case& c : cases) {
        SCOPED_TRACE(
            std::string(c.name.begin(), c.name.begin() + std::min<std::size_t>(8, c.name.size())));
        NCRYPT_KEY_HANDLE h = 0;
        EXPECT_EQ(t->CreatePersistedKey(ph, &h, c.alg, c.name.c_str(), 0, c.flags), c.expected);
        EXPECT_EQ(h != 0, c.expected == 0);
        if (h != 0) {
            t->FreeKey(ph, h);
        }
    }
    EXPECT_EQ(liveContexts(), contexts);
    NCRYPT_KEY_HANDLE h = 0;
    EXPECT_EQ(t->CreatePersistedKey(ph, nullptr, u"RSA", u"a", 0, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->CreatePersistedKey(ph, &h, nullptr, u"a", 0, 0), NTE_INVALID_PARAMETER);
}

TEST_F(Ksp, FinalizeKeyGeneratesWhatWasAsked) {
    env.traceOn();
    struct Case {
        const char16_t* alg;
        std::optional<DWORD> length;
        DWORD flags;
        SECURITY_STATUS expected;
        const char* genKeyTrace;
        SECURITY_STATUS retried;  // FinalizeKey again, flags 0
    };
    const Case cases[] = {
        {u"RSA", std::nullopt, 0, 0, "CPGenKey 2 0x08000000", NTE_INVALID_HANDLE},
        {u"RSA", 1024, NCRYPT_SILENT_FLAG | NCRYPT_NO_KEY_VALIDATION, 0, "CPGenKey 2 0x04000000",
         NTE_INVALID_HANDLE},
        {u"ECDSA_P256", std::nullopt, 0, 0, "CPGenKey 2 0x41000000", NTE_INVALID_HANDLE},
        {u"RSA", std::nullopt, NCRYPT_WRITE_KEY_TO_LEGACY_STORE_FLAG, NTE_NOT_SUPPORTED, nullptr,
         0},
        {u"RSA", std::nullopt, 0x1, NTE_BAD_FLAGS, nullptr, 0},
        {u"RSA", 0x4000, 0, NTE_INVALID_PARAMETER, nullptr, NTE_INVALID_PARAMETER},
        {u"RSA", 0xFFFFFFFFu, 0, NTE_INVALID_PARAMETER, nullptr, NTE_INVALID_PARAMETER},
        // The module refuses the length; the container it made is reused on retry.
        {u"RSA", 512, 0, NTE_INTERNAL_ERROR, "CPGenKey 2 0x02000000", NTE_INTERNAL_ERROR},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::u16string name = u"fin" + std::u16string(1, static_cast<char16_t>(u'a' + n++));
        const NCRYPT_KEY_HANDLE h = created(name.c_str(), c.alg);
        if (c.length) {
            DWORD bits = *c.length;
            ASSERT_EQ(t->SetKeyProperty(ph, h, u"Length", reinterpret_cast<PBYTE>(&bits), 4, 0), 0);
        }
        env.takeTrace();
        EXPECT_EQ(t->FinalizeKey(ph, h, c.flags), c.expected);
        const auto trace = env.takeTrace();
        EXPECT_EQ(std::find(trace.begin(), trace.end(), c.genKeyTrace ? c.genKeyTrace : "") !=
                      trace.end(),
                  c.genKeyTrace != nullptr);
        // Finalized once only; a failed one may be retried.
        EXPECT_EQ(t->FinalizeKey(ph, h, 0), c.retried);
        t->FreeKey(ph, h);
    }
    // Overwriting opens the existing container and replaces the key in it.
    const Key first = rsaKey(u"replaced", 1024);
    const Bytes before = exportKey(first, u"RSAPUBLICBLOB").bytes;
    const Key second = made(u"replaced", {u"RSA", 1024, 0, NCRYPT_OVERWRITE_KEY_FLAG});
    const Bytes after = exportKey(second, u"RSAPUBLICBLOB").bytes;
    EXPECT_EQ(after.size(), before.size());
    EXPECT_NE(after, before);
    NCRYPT_KEY_HANDLE anonymous = 0;
    ASSERT_EQ(t->CreatePersistedKey(ph, &anonymous, u"RSA", nullptr, 0, 0), 0);
    EXPECT_EQ(t->FinalizeKey(ph, anonymous, 0), NTE_INVALID_PARAMETER);
    t->FreeKey(ph, anonymous);
}

TEST_F(Ksp, FinalizeKeyReplacesAKeyOnlyWhenAskedTo) {
    // Both keys are created before either is finalized, so the check at
    // creation finds nothing; finalizing the second must not undo the first.
    struct Case {
        const char16_t* name;
        DWORD secondKeySpec;
        DWORD secondFlags;
        SECURITY_STATUS expected;
    };
    const Case cases[] = {
        {u"race", AT_SIGNATURE, 0, NTE_EXISTS},
        {u"CNGLENGTHS", AT_SIGNATURE, 0, NTE_EXISTS},
        {u"race-pair", AT_KEYEXCHANGE, 0, 0},
        {u"race-overwrite", AT_SIGNATURE, NCRYPT_OVERWRITE_KEY_FLAG, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        NCRYPT_KEY_HANDLE first = 0;
        NCRYPT_KEY_HANDLE second = 0;
        ASSERT_EQ(t->CreatePersistedKey(ph, &first, u"ECDSA_P256", c.name, AT_SIGNATURE, 0), 0);
        ASSERT_EQ(t->CreatePersistedKey(ph, &second, u"ECDSA_P256", c.name, c.secondKeySpec,
                                        c.secondFlags),
                  0);
        ASSERT_EQ(t->FinalizeKey(ph, first, 0), 0);
        const Bytes before = containerKey(c.name, AT_SIGNATURE);
        ASSERT_FALSE(before.empty());
        const DWORD contexts = liveContexts();
        EXPECT_EQ(t->FinalizeKey(ph, second, 0), c.expected);
        const bool replaced = (c.secondFlags & NCRYPT_OVERWRITE_KEY_FLAG) != 0;
        EXPECT_EQ(containerKey(c.name, AT_SIGNATURE) != before, replaced);
        EXPECT_EQ(containerKey(c.name, AT_KEYEXCHANGE).empty(), c.secondKeySpec != AT_KEYEXCHANGE);
        if (c.expected != 0) {
            EXPECT_EQ(liveContexts(), contexts);
            EXPECT_EQ(t->FinalizeKey(ph, second, 0), c.expected);
        }
        EXPECT_EQ(t->FreeKey(ph, first), 0);
        EXPECT_EQ(t->FreeKey(ph, second), 0);
    }
}

TEST_F(Ksp, OpenKeyReadsTheContainerAndReleasesOnFailure) {
    const Key rsa = rsaKey(u"open-rsa", 1024);
    const Key ec = ecKey(u"open-ec", 384);
    const DWORD contexts = liveContexts();
    struct Case {
        const char16_t* name;
        DWORD keySpec;
        SECURITY_STATUS expected;
        const char16_t* algorithmName;
        DWORD length;
    };
    const Case cases[] = {
        {u"open-rsa", 0, 0, u"RSA", 1024},
        {u"open-rsa", AT_SIGNATURE, 0, u"RSA", 1024},
        {u"open-ec", 0, 0, u"ECDSA_P384", 384},
        {u"open-rsa", AT_KEYEXCHANGE, NTE_INTERNAL_ERROR, nullptr, 0},
        {u"missing", 0, NTE_INTERNAL_ERROR, nullptr, 0},
        {u"\u0416", 0, NTE_INVALID_PARAMETER, nullptr, 0},
    };
    for (const Case& c : cases) {
        std::optional<Key> key;
        EXPECT_EQ(openKey(*provider, c.name, c.keySpec, key), c.expected);
        if (c.expected == 0) {
            ASSERT_TRUE(key);
            const Output name = getKeyProperty(*key, u"Algorithm Name");
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name.bytes.data())),
                      c.algorithmName);
            EXPECT_EQ(t->FinalizeKey(ph, key->handle(), 0), NTE_INVALID_HANDLE);
            const Output length = getKeyProperty(*key, u"Length");
            EXPECT_EQ(length.bytes, dwords({c.length}));
        }
    }
    EXPECT_EQ(liveContexts(), contexts);
    // Deleting is refused: the container holds the bank's other key too.
    EXPECT_EQ(t->DeleteKey(ph, rsa.handle(), 0x1), NTE_BAD_FLAGS);
    EXPECT_EQ(t->DeleteKey(ph, rsa.handle(), NCRYPT_SILENT_FLAG), NTE_NOT_SUPPORTED);
    EXPECT_EQ(signHash(rsa, kSha256, 0).status, 0);
}

// --- operations' checks ---------------------------------------------------------------

TEST_F(Ksp, HashLengthChoosesTheAlgorithmAndFlagsTheDescription) {
    const Key key = rsaKey(u"hashes");
    env.traceOn();
    struct Case {
        std::size_t hashBytes;
        DWORD flags;
        SECURITY_STATUS expected;
        const char* hashTrace;
        const char* signTrace;
    };
    const Case cases[] = {
        {16, 0, 0, "CPSignHash hash 0x00008003", "CPSignHash 2 QZKSP"},
        {20, BCRYPT_PAD_PKCS1, 0, "CPSignHash hash 0x00008004", "CPSignHash 2 QZKSP"},
        {32, BCRYPT_PAD_PSS, 0, "CPSignHash hash 0x0000800C", "CPSignHash 2 QZKSP_RSA_PSS"},
        {36, NCRYPT_SILENT_FLAG, 0, "CPSignHash hash 0x00008008", "CPSignHash 2 QZKSP"},
        {48, 0x48, 0, "CPSignHash hash 0x0000800D", "CPSignHash 2 QZKSP_RSA_PSS"},
        {64, 0, 0, "CPSignHash hash 0x0000800E", "CPSignHash 2 QZKSP"},
        {28, 0, NTE_BAD_ALGID, nullptr, nullptr},
        {32, 0x1, NTE_BAD_FLAGS, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hashBytes);
        env.takeTrace();
        EXPECT_EQ(signHash(key, Bytes(c.hashBytes, 7), c.flags).status, c.expected);
        const auto trace = env.takeTrace();
        for (const char* line : {c.hashTrace, c.signTrace}) {
            if (line != nullptr) {
                EXPECT_NE(std::find(trace.begin(), trace.end(), line), trace.end()) << line;
            }
        }
        if (c.expected != 0) {
            EXPECT_TRUE(trace.empty());
        }
    }
}

TEST_F(Ksp, OperationsRefuseBadInputBeforeTheModule) {
    const Key rsa = rsaKey(u"ops");
    const Key ec = ecKey(u"ops-ec");
    const NCRYPT_KEY_HANDLE unfinalized = created(u"ops-new");
    const NCRYPT_KEY_HANDLE k = rsa.handle();
    Bytes in(16, 3);
    Bytes out(600);
    DWORD size = 77;
    PBYTE p = in.data();
    // Encrypt and decrypt.
    EXPECT_EQ(t->Encrypt(ph, unfinalized, p, 16, nullptr, nullptr, 0, &size, 0), NTE_BAD_KEY_STATE);
    EXPECT_EQ(t->Encrypt(ph, k, p, 0, nullptr, nullptr, 0, &size, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->Encrypt(ph, k, out.data(), 513, nullptr, nullptr, 0, &size, 0),
              NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->Encrypt(ph, k, p, 16, nullptr, nullptr, 0, &size, 0x8), NTE_BAD_FLAGS);
    EXPECT_EQ(t->Encrypt(ph, k, p, 16, nullptr, nullptr, 0, &size, NCRYPT_PAD_OAEP_FLAG),
              NTE_NOT_SUPPORTED);
    EXPECT_EQ(t->Encrypt(ph, k, p, 16, nullptr, nullptr, 0, &size, NCRYPT_NO_PADDING_FLAG),
              NTE_NOT_SUPPORTED);
    EXPECT_EQ(t->Encrypt(ph, k, p, 16, nullptr, out.data(), 255, &size, 0), NTE_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 256u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(t->Encrypt(ph, ec.handle(), p, 16, nullptr, nullptr, 0, &size, 0),
              NTE_INTERNAL_ERROR);
    EXPECT_EQ(t->Decrypt(ph, ec.handle(), out.data(), 64, nullptr, nullptr, 0, &size, 0),
              NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->Decrypt(ph, k, out.data(), 255, nullptr, nullptr, 0, &size, 0),
              NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->Decrypt(ph, k, out.data(), 256, nullptr, nullptr, 0, &size, NCRYPT_PAD_OAEP_FLAG),
              NTE_NOT_SUPPORTED);
    // Signatures.
    EXPECT_EQ(t->SignHash(ph, unfinalized, nullptr, p, 16, nullptr, 0, &size, 0),
              NTE_BAD_KEY_STATE);
    EXPECT_EQ(t->SignHash(ph, k, nullptr, p, 16, nullptr, 0, nullptr, 0x1), NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->VerifySignature(ph, unfinalized, nullptr, nullptr, 0, nullptr, 0, 0x1),
              NTE_BAD_KEY_STATE);
    EXPECT_EQ(t->VerifySignature(ph, k, nullptr, p, 16, out.data(), 513, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->VerifySignature(ph, k, nullptr, p, 16, nullptr, 4, 0), NTE_INVALID_PARAMETER);
    // A signature buffer too short for the module's answer.
    EXPECT_EQ(t->SignHash(ph, k, nullptr, p, 16, out.data(), 100, &size, 0), NTE_BUFFER_TOO_SMALL);
    t->FreeKey(ph, unfinalized);
}

TEST_F(Ksp, ExportKeyByBlobName) {
    const Key rsa = rsaKey(u"exp");
    const Key ec = ecKey(u"exp-ec");
    const NCRYPT_KEY_HANDLE unfinalized = created(u"exp-new");
    struct Case {
        NCRYPT_KEY_HANDLE key;
        const char16_t* blob;
        DWORD flags;
        SECURITY_STATUS expected;
        DWORD size;
    };
    const Case cases[] = {
        {rsa.handle(), u"PUBLICBLOB", 0, 0, 8 + 12 + 256},
        {rsa.handle(), u"CAPIPUBLICBLOB", NCRYPT_SILENT_FLAG, 0, 8 + 12 + 256},
        {rsa.handle(), u"RSAPUBLICBLOB", 0, 0, 24 + 3 + 256},
        {ec.handle(), u"ECCPUBLICBLOB", 0, 0, 8 + 64},
        {ec.handle(), u"RSAPUBLICBLOB", 0, NTE_INTERNAL_ERROR, 99},
        {rsa.handle(), u"RSAPRIVATEBLOB", 0, NTE_NOT_SUPPORTED, 0},
        {rsa.handle(), u"PKCS8_PRIVATEKEY", 0, NTE_NOT_SUPPORTED, 0},
        {rsa.handle(), u"rsapublicblob", 0, NTE_INVALID_PARAMETER, 99},
        {rsa.handle(), u"RSAPUBLICBLOB", NCRYPT_EXPORT_LEGACY_FLAG, NTE_NOT_SUPPORTED, 99},
        {rsa.handle(), u"RSAPUBLICBLOB", 0x1, NTE_BAD_FLAGS, 99},
        {unfinalized, u"RSAPUBLICBLOB", 0, NTE_BAD_KEY_STATE, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.blob, c.blob + std::char_traits<char16_t>::length(c.blob)));
        DWORD size = 99;
        EXPECT_EQ(t->ExportKey(ph, c.key, 0, c.blob, nullptr, nullptr, 0, &size, c.flags),
                  c.expected);
        EXPECT_EQ(size, c.size);
        if (c.expected == 0) {
            Bytes blob(size - 1);
            EXPECT_EQ(t->ExportKey(ph, c.key, 0, c.blob, nullptr, blob.data(), size - 1, &size, 0),
                      NTE_BUFFER_TOO_SMALL);
        }
    }
    t->FreeKey(ph, unfinalized);
}

// --- properties ---------------------------------------------------------------------

TEST_F(Ksp, PropertiesFollowTheGetConvention) {
    const Key rsa = rsaKey(u"props");
    ecKey(u"props-ec", 384);
    // Opened, a key's algorithm follows its length; made, it stays as created.
    std::optional<Key> opened;
    ASSERT_EQ(openKey(*provider, u"props-ec", 0, opened), 0);
    const Key& ec = *opened;
    const NCRYPT_KEY_HANDLE odd = created(u"props-odd");
    DWORD bits = 1025;
    ASSERT_EQ(t->SetKeyProperty(ph, odd, u"Length", reinterpret_cast<PBYTE>(&bits), 4, 0), 0);
    auto text = [](std::u16string_view s) {
        Bytes b(reinterpret_cast<const std::uint8_t*>(s.data()),
                reinterpret_cast<const std::uint8_t*>(s.data() + s.size()));
        b.insert(b.end(), {0, 0});
        return b;
    };
    struct Case {
        NCRYPT_KEY_HANDLE key;  // 0: provider property
        std::u16string name;
        DWORD flags;
        SECURITY_STATUS expected;
        Bytes value;
    };
    const Case cases[] = {
        {0, u"Impl Type", 0, 0, dwords({9})},
        {0, u"Max Name Length", 0, 0, dwords({260})},
        {0, u"Name", 0, 0, text(u"Korvane CSP ORVA V1.0")},
        {0, u"Version", NCRYPT_SILENT_FLAG, 0, dwords({0x00010000})},
        {0, u"Security Descr Support", 0, 0, dwords({1})},
        {0, u"Use Context", 0, NTE_INTERNAL_ERROR, {}},
        {0, u"name", 0, NTE_NOT_SUPPORTED, {}},
        {0, u"Name", 0x1, NTE_BAD_FLAGS, {}},
        {0, std::u16string(64, u'x'), 0, NTE_NOT_SUPPORTED, {}},
        {0, std::u16string(65, u'x'), 0, NTE_INVALID_PARAMETER, {}},
        {rsa.handle(), u"Algorithm Name", 0, 0, text(u"RSA")},
        {rsa.handle(), u"Algorithm Group", 0, 0, text(u"RSA")},
        {ec.handle(), u"Algorithm Group", 0, 0, text(u"ECDSA")},
        {rsa.handle(), u"Block Length", 0, 0, dwords({256})},
        {odd, u"Block Length", 0, 0, dwords({129})},
        {ec.handle(), u"Block Length", 0, 0, dwords({48})},
        {rsa.handle(), u"Key Type", 0, 0, dwords({0})},
        {rsa.handle(), u"Length", 0x40000040, 0, dwords({2048})},
        {rsa.handle(), u"Length", 0x80000000, NTE_BAD_FLAGS, {}},
        {rsa.handle(), u"Lengths", 0, 0, dwords({1024, 4096, 0, 2048})},
        {ec.handle(), u"Lengths", 0, 0, dwords({384, 384, 0, 384})},
        {rsa.handle(), u"Unique Name", 0, 0, text(u"props")},
        {rsa.handle(), u"Use Context", 0, NTE_NOT_FOUND, {}},
        {rsa.handle(), u"SmartCardKeyCertificate", 0, NTE_NOT_FOUND, {}},
        {odd, u"SmartCardKeyCertificate", 0, NTE_NOT_FOUND, {}},
        {rsa.handle(), u"Security Descr", 0, NTE_BAD_FLAGS, {}},
        {rsa.handle(), u"Security Descr", 0x40, NTE_BAD_FLAGS, {}},
        {rsa.handle(), u"Security Descr", 0x4, NTE_NOT_SUPPORTED, {}},
        {rsa.handle(), u"name", 0, NTE_NOT_SUPPORTED, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
        auto get = [&](PBYTE out, DWORD cb, DWORD* result) {
            return c.key == 0
                       ? t->GetProviderProperty(ph, c.name.c_str(), out, cb, result, c.flags)
                       : t->GetKeyProperty(ph, c.key, c.name.c_str(), out, cb, result, c.flags);
        };
        DWORD size = 99;
        EXPECT_EQ(get(nullptr, 0, &size), c.expected);
        EXPECT_EQ(size, c.value.size());
        if (c.expected == 0) {
            Bytes out(c.value.size() + 4, 0xEE);
            EXPECT_EQ(get(out.data(), size - 1, &size), NTE_BUFFER_TOO_SMALL);
            EXPECT_EQ(size, c.value.size());
            EXPECT_EQ(out[0], 0xEE);
            EXPECT_EQ(get(out.data(), static_cast<DWORD>(out.size()), &size), 0);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + size), c.value);
        }
    }
    t->FreeKey(ph, odd);
}

TEST_F(Ksp, SetPropertiesStoreWhatTheyMay) {
    const Key key = rsaKey(u"set");
    const NCRYPT_KEY_HANDLE unfinalized = created(u"set-new");
    Bytes eight(8, 1);
    EXPECT_EQ(setKeyProperty(key, u"Key Usage", eight), NTE_INVALID_PARAMETER);
    EXPECT_EQ(setKeyProperty(key, u"Window Handle", eight), 0);
    EXPECT_EQ(t->SetKeyProperty(ph, unfinalized, u"SmartCardKeyCertificate", eight.data(), 8, 0),
              NTE_BAD_KEY_STATE);
    EXPECT_EQ(setKeyProperty(key, u"SmartCardKeyCertificate", eight), NTE_BAD_DATA);
    EXPECT_EQ(setProviderProperty(*provider, u"Other", eight), NTE_NOT_SUPPORTED);
    // "Use Context" comes back terminated whatever was given.
    struct Case {
        Bytes input;
        std::u16string expected;
    };
    const Case cases[] = {
        {{'a', 0, 'b', 0, 0, 0}, u"ab"},
        {{'a', 0, 'b', 0}, u"ab"},
        {{'a', 0, 'b'}, u"ab"},
        {{}, u""},
    };
    for (const Case& c : cases) {
        Bytes input = c.input;
        input.reserve(1);
        ASSERT_EQ(t->SetKeyProperty(ph, key.handle(), u"Use Context", input.data(),
                                    static_cast<DWORD>(input.size()), 0),
                  0);
        ASSERT_EQ(t->SetProviderProperty(ph, u"Use Context", input.data(),
                                         static_cast<DWORD>(input.size()), 0),
                  0);
        for (const Output& out : {getKeyProperty(key, u"Use Context"),
                                  getProviderProperty(*provider, u"Use Context")}) {
            ASSERT_EQ(out.status, 0);
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out.bytes.data()),
                                     out.bytes.size() / 2 - 1),
                      c.expected);
        }
    }
    t->FreeKey(ph, unfinalized);
}

// --- enumeration and stubs ---------------------------------------------------------------

TEST_F(Ksp, AlgorithmsAndSupport) {
    struct Case {
        DWORD operations;
        SECURITY_STATUS expected;
    };
    for (const Case c :
         {Case{0, 0}, Case{4, 0}, Case{0x10, 0}, Case{0x14, 0}, Case{8, NTE_NOT_SUPPORTED}}) {
        std::vector<AlgorithmEntry> list;
        EXPECT_EQ(enumAlgorithms(*provider, c.operations, list), c.expected);
        if (c.expected == 0) {
            ASSERT_EQ(list.size(), 3u);
            EXPECT_EQ(list[0].name, u"RSA");
            EXPECT_EQ(list[0].algorithmClass, 3u);
            EXPECT_EQ(list[0].operations, 0x14u);
            EXPECT_EQ(list[2].name, u"ECDH_P256");
            EXPECT_EQ(list[2].operations, 0x18u);
        }
    }
    EXPECT_EQ(t->IsAlgSupported(ph, u"RSA", NCRYPT_SILENT_FLAG), 0);
    EXPECT_EQ(t->IsAlgSupported(ph, u"ECDSA_P256", 0), NTE_NOT_SUPPORTED);
    EXPECT_EQ(t->IsAlgSupported(ph, u"RSA", 0x1), NTE_BAD_FLAGS);
}

TEST_F(Ksp, EnumKeysWalksContainersAndFreesItsState) {
    EXPECT_EQ(t->EnumKeys(ph, nullptr, nullptr, nullptr, 0), NTE_INVALID_PARAMETER);
    std::vector<KeyEntry> none;
    EXPECT_EQ(enumKeys(*provider, none), NTE_NO_MORE_ITEMS);
    EXPECT_TRUE(none.empty());
    const Key a = rsaKey(u"b-rsa");
    const Key b = ecKey(u"a-ec384", 384);
    const std::u16string longName(100, u'z');
    const Key c = made(longName, {u"RSA", 1024, AT_KEYEXCHANGE, 0});
    const Key latin = rsaKey(u"caf\u00e9");
    const DWORD contexts = liveContexts();
    std::vector<KeyEntry> keys;
    EXPECT_EQ(enumKeys(*provider, keys), NTE_NO_MORE_ITEMS);
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].name, u"a-ec384");
    EXPECT_EQ(keys[0].algorithm, u"ECDSA_P384");
    EXPECT_EQ(keys[1].name, u"b-rsa");
    EXPECT_EQ(keys[2].name, u"caf\u00e9");
    EXPECT_EQ(keys[3].name, longName);
    EXPECT_EQ(keys[3].legacyKeySpec, AT_KEYEXCHANGE);
    EXPECT_EQ(liveContexts(), contexts);
    // A state the provider did not hand out is refused; a freed one too.
    NCryptKeyName* name = nullptr;
    PVOID state = reinterpret_cast<PVOID>(0x4242);
    EXPECT_EQ(t->EnumKeys(ph, nullptr, &name, &state, 0), NTE_INVALID_PARAMETER);
    state = nullptr;
    ASSERT_EQ(t->EnumKeys(ph, nullptr, &name, &state, 0), 0);
    t->FreeBuffer(name);
    EXPECT_EQ(liveContexts(), contexts + 1);
    EXPECT_EQ(t->FreeBuffer(state), 0);
    EXPECT_EQ(liveContexts(), contexts);
    EXPECT_EQ(t->EnumKeys(ph, nullptr, &name, &state, 0), NTE_INVALID_PARAMETER);
    state = nullptr;
    EXPECT_EQ(t->EnumKeys(ph, nullptr, &name, &state, NCRYPT_MACHINE_KEY_FLAG), NTE_NOT_SUPPORTED);
    EXPECT_EQ(t->EnumKeys(ph, nullptr, &name, &state, 0x1), NTE_BAD_FLAGS);
    // An empty container fails its own call; the walk goes on past it.
    HCRYPTPROV empty = 0;
    auto acquire = reinterpret_cast<PFN_CPAcquireContext>(core("CPAcquireContext"));
    ASSERT_TRUE(acquire(&empty, "aa-empty", CRYPT_NEWKEYSET, nullptr));
    keys.clear();
    EXPECT_EQ(enumKeys(*provider, keys), NTE_NO_MORE_ITEMS);
    EXPECT_EQ(keys.size(), 4u);
}

TEST_F(Ksp, FreeBufferFreesOnlyWhatItHandedOutOnce) {
    const Key key = ecKey(u"kept");
    DWORD count = 0;
    NCryptAlgorithmName* list = nullptr;
    ASSERT_EQ(t->EnumAlgorithms(ph, 0, &count, &list, 0), 0);
    std::uint32_t forged[64] = {};
    // Freed already, never handed out, a live key's handle: each left alone.
    void* const values[] = {list, list, forged, reinterpret_cast<void*>(key.handle()), nullptr};
    for (void* value : values) {
        EXPECT_EQ(t->FreeBuffer(value), 0);
    }
    EXPECT_EQ(getKeyProperty(key, u"Length").bytes, dwords({256}));
}

TEST_F(Ksp, EntriesThatDoNothingSaySo) {
    NCRYPT_KEY_HANDLE h = 0;
    EXPECT_EQ(t->ImportKey(0, 0, nullptr, nullptr, &h, nullptr, 0, 0), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(t->PromptUser(0, 0, nullptr, 0), NTE_NOT_SUPPORTED);
    EXPECT_EQ(t->NotifyChangeKey(0, nullptr, 0), NTE_NOT_SUPPORTED);
    EXPECT_EQ(t->SecretAgreement(0, 0, 0, nullptr, 0), NTE_NOT_SUPPORTED);
    EXPECT_EQ(t->FreeSecret(0, 0), NTE_NOT_SUPPORTED);
    DWORD size = 7;
    EXPECT_EQ(t->DeriveKey(0, 0, nullptr, nullptr, nullptr, 0, &size, 0), NTE_INVALID_HANDLE);
    EXPECT_EQ(t->DeriveKey(ph, 0, nullptr, nullptr, nullptr, 0, &size, 2), NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->DeriveKey(ph, 0, nullptr, nullptr, nullptr, 0, nullptr, 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->DeriveKey(ph, 0, nullptr, nullptr, nullptr, 0, &size, 1), NTE_NOT_SUPPORTED);
    EXPECT_EQ(size, 7u);
    NCRYPT_PROV_HANDLE p = 0;
    const std::u16string longest(32766, u'p');
    EXPECT_EQ(t->OpenProvider(&p, longest.c_str(), 0), 0);
    EXPECT_EQ(t->FreeProvider(p), 0);
    const std::u16string tooLong(32767, u'p');
    EXPECT_EQ(t->OpenProvider(&p, tooLong.c_str(), 0), NTE_INVALID_PARAMETER);
    EXPECT_EQ(t->OpenProvider(nullptr, u"x", 0), NTE_INVALID_PARAMETER);
}

}  // namespace
}  // namespace orva::ksp_test
