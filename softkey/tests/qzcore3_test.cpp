// qzcore3's contract with the provider: containers, keys, certificates,
// enumeration cursors and handle checks, through the built module's exports.
// Signatures and blobs are checked with openssl in cng-host's test.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "csp_containers.h"
#include "orva/testing/openssl.h"
#include "store_test_support.h"
#include "win32/cryptoapi.h"
#include "win32/errors.h"

namespace orva::softkey::test {
namespace {

class Qzcore3 : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryA(SOFTKEY_TEST_BIN_DIR "/qzcore3.so");
        ASSERT_NE(module, nullptr);
        acquire = proc<PFN_CPAcquireContext>("CPAcquireContext");
        release = proc<PFN_CPReleaseContext>("CPReleaseContext");
        genKey = proc<PFN_CPGenKey>("CPGenKey");
        userKey = proc<PFN_CPGetUserKey>("CPGetUserKey");
        getKeyParam = proc<PFN_CPGetKeyParam>("CPGetKeyParam");
        setKeyParam = proc<PFN_CPSetKeyParam>("CPSetKeyParam");
        provParam = proc<PFN_CPGetProvParam>("CPGetProvParam");
        createHash = proc<PFN_CPCreateHash>("CPCreateHash");
        signHash = proc<PFN_CPSignHash>("CPSignHash");
        encrypt = proc<PFN_CPEncrypt>("CPEncrypt");
    }
    void TearDown() override { FreeLibrary(module); }

    template <typename T>
    T proc(const char* name) {
        return reinterpret_cast<T>(GetProcAddress(module, name));
    }
    // The last error of a call that must fail.
    template <typename F>
    LONG failure(F&& call) {
        SetLastError(0);
        EXPECT_FALSE(call());
        return static_cast<LONG>(GetLastError());
    }
    HCRYPTPROV container(const char* name, DWORD keySpec = 0, DWORD genFlags = 0x08000000) {
        HCRYPTPROV h = 0;
        EXPECT_TRUE(acquire(&h, name, CRYPT_NEWKEYSET, nullptr));
        HCRYPTKEY key = 0;
        if (keySpec != 0) {
            EXPECT_TRUE(genKey(h, keySpec, genFlags, &key));
        }
        return h;
    }

    TempStore store;
    HMODULE module = nullptr;
    PFN_CPAcquireContext acquire = nullptr;
    PFN_CPReleaseContext release = nullptr;
    PFN_CPGenKey genKey = nullptr;
    PFN_CPGetUserKey userKey = nullptr;
    PFN_CPGetKeyParam getKeyParam = nullptr;
    PFN_CPSetKeyParam setKeyParam = nullptr;
    PFN_CPGetProvParam provParam = nullptr;
    PFN_CPCreateHash createHash = nullptr;
    PFN_CPSignHash signHash = nullptr;
    PFN_CPEncrypt encrypt = nullptr;
};

TEST_F(Qzcore3, ContainersOpenCreateAndDelete) {
    const HCRYPTPROV made = container("box", AT_SIGNATURE);
    release(made, 0);
    const std::string tooLong(260, 'n');
    struct Case {
        const char* name;
        DWORD flags;
        LONG error;  // 0: success
    };
    const Case cases[] = {
        {"box", 0, 0},
        {"box", CRYPT_SILENT, 0},
        {"box", CRYPT_NEWKEYSET, NTE_EXISTS},
        {"none", 0, NTE_BAD_KEYSET},
        {nullptr, 0, NTE_BAD_KEYSET},
        {"", 0, NTE_BAD_KEYSET},
        {tooLong.c_str(), CRYPT_NEWKEYSET, NTE_BAD_KEYSET},
        {nullptr, CRYPT_VERIFYCONTEXT | CRYPT_SILENT, 0},
        {"box", 0x1, NTE_BAD_FLAGS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        HCRYPTPROV h = 0;
        SetLastError(0);
        const BOOL ok = acquire(&h, c.name, c.flags, nullptr);
        EXPECT_EQ(ok != FALSE, c.error == 0);
        if (ok) {
            EXPECT_NE(h, 0u);
            EXPECT_TRUE(release(h, 0));
        } else {
            EXPECT_EQ(static_cast<LONG>(GetLastError()), c.error);
        }
    }
    HCRYPTPROV h = 0;
    EXPECT_TRUE(acquire(&h, "box", CRYPT_DELETEKEYSET, nullptr));
    EXPECT_FALSE(csp::readContainer(store.store(), "box"));
    EXPECT_EQ(failure([&] { return acquire(&h, "box", 0, nullptr); }), NTE_BAD_KEYSET);
}

TEST_F(Qzcore3, GeneratedKeysPersistWithTheirLengths) {
    struct Case {
        DWORD keySpec;
        DWORD flags;
        LONG error;
        DWORD bits;
    };
    const Case cases[] = {
        {AT_SIGNATURE, 0x08000000, 0, 2048},
        {AT_KEYEXCHANGE, 0x04000000, 0, 1024},
        {AT_SIGNATURE, 0, 0, 2048},
        {AT_SIGNATURE, 0x41000000, 0, 256},
        {AT_SIGNATURE, 0x41800000, 0, 384},
        {AT_SIGNATURE, 0x40000000, 0, 256},
        {AT_SIGNATURE, 0x02000000, NTE_BAD_FLAGS, 0},
        {AT_SIGNATURE, 0x41400000, NTE_BAD_FLAGS, 0},
        {3, 0x08000000, NTE_BAD_ALGID, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string name = "gen" + std::to_string(n++);
        const HCRYPTPROV h = container(name.c_str());
        HCRYPTKEY key = 0;
        SetLastError(0);
        EXPECT_EQ(genKey(h, c.keySpec, c.flags, &key) != FALSE, c.error == 0);
        release(h, 0);
        if (c.error != 0) {
            EXPECT_EQ(static_cast<LONG>(GetLastError()), c.error);
            continue;
        }
        // A fresh context reads the key back from the store.
        HCRYPTPROV again = 0;
        ASSERT_TRUE(acquire(&again, name.c_str(), 0, nullptr));
        ASSERT_TRUE(userKey(again, c.keySpec, &key));
        DWORD bits = 0;
        DWORD size = sizeof bits;
        EXPECT_TRUE(getKeyParam(again, key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &size, 0));
        EXPECT_EQ(bits, c.bits);
        const DWORD other = c.keySpec == AT_SIGNATURE ? AT_KEYEXCHANGE : AT_SIGNATURE;
        EXPECT_EQ(failure([&] { return userKey(again, other, &key); }), NTE_NO_KEY);
        release(again, 0);
    }
}

TEST_F(Qzcore3, CertificatesAreCheckedAndKeptPerKey) {
    const HCRYPTPROV h = container("cert", AT_SIGNATURE, 0x41000000);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(userKey(h, AT_SIGNATURE, &key));
    const auto own = csp::readContainer(store.store(), "cert");
    ASSERT_TRUE(own && own->signature);
    const TempDir dir;
    writeFile(dir.file("key.pem"),
              std::string(own->signature->privatePem.data(), own->signature->privatePem.size()));
    const auto made = orva::testing::runCommand(
        orva::testing::opensslCommand("req -new -x509 -key " + dir.file("key.pem") +
                                      " -subj /CN=c -days 1 -outform DER -out " +
                                      dir.file("c.der")) +
        " && " +
        orva::testing::opensslCommand("req -new -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                                      "-nodes -keyout " +
                                      dir.file("k2.pem") +
                                      " -subj /CN=x -days 1 -outform DER -out " +
                                      dir.file("other.der")));
    ASSERT_EQ(made.status, 0) << made.output;
    const Bytes cert = readFile(dir.file("c.der"));
    const Bytes other = readFile(dir.file("other.der"));
    DWORD size = 0;
    EXPECT_EQ(failure([&] { return getKeyParam(h, key, KP_CERTIFICATE, nullptr, &size, 0); }),
              NTE_NOT_FOUND);
    const DWORD count = static_cast<DWORD>(cert.size());
    EXPECT_EQ(failure([&] { return setKeyParam(h, key, KP_CERTIFICATE, cert.data(), count - 1); }),
              NTE_BAD_DATA);
    Bytes trailing = cert;
    trailing.push_back(0);
    EXPECT_EQ(
        failure([&] { return setKeyParam(h, key, KP_CERTIFICATE, trailing.data(), count + 1); }),
        NTE_BAD_DATA);
    EXPECT_EQ(failure([&] {
                  return setKeyParam(h, key, KP_CERTIFICATE, other.data(),
                                     static_cast<DWORD>(other.size()));
              }),
              NTE_BAD_KEY);
    ASSERT_TRUE(setKeyParam(h, key, KP_CERTIFICATE, cert.data(), count));
    release(h, 0);
    // Another context, as another process would, reads it from the store.
    HCRYPTPROV again = 0;
    ASSERT_TRUE(acquire(&again, "cert", 0, nullptr));
    ASSERT_TRUE(userKey(again, AT_SIGNATURE, &key));
    ASSERT_TRUE(getKeyParam(again, key, KP_CERTIFICATE, nullptr, &size, 0));
    EXPECT_EQ(size, count);
    Bytes back(size);
    size = count - 1;
    EXPECT_EQ(
        failure([&] { return getKeyParam(again, key, KP_CERTIFICATE, back.data(), &size, 0); }),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, count);
    ASSERT_TRUE(getKeyParam(again, key, KP_CERTIFICATE, back.data(), &size, 0));
    EXPECT_EQ(back, cert);
    release(again, 0);
}

TEST_F(Qzcore3, EnumerationCursorsWalkOnceAndStayAtTheEnd) {
    for (const char* name : {"c", "a", "b\xe9"}) {
        release(container(name), 0);
    }
    HCRYPTPROV h = 0;
    ASSERT_TRUE(acquire(&h, nullptr, CRYPT_VERIFYCONTEXT | CRYPT_SILENT, nullptr));
    char name[8] = {};
    DWORD size = 1;
    EXPECT_EQ(failure([&] {
                  return provParam(h, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size,
                                   CRYPT_FIRST);
              }),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 2u);
    std::vector<std::string> names;
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        size = sizeof name;
        if (!provParam(h, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags)) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
            break;
        }
        EXPECT_EQ(size, std::strlen(name) + 1);
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b\xe9", "c"}));
    EXPECT_EQ(failure([&] {
                  return provParam(h, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size,
                                   CRYPT_NEXT);
              }),
              ERROR_NO_MORE_ITEMS);
    PROV_ENUMALGS_EX record{};
    size = sizeof record;
    ASSERT_TRUE(provParam(h, PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&record), &size, CRYPT_FIRST));
    EXPECT_EQ(record.aiAlgid, CALG_RSA_SIGN);
    EXPECT_EQ(record.dwMinLen, 1024u);
    EXPECT_EQ(record.dwMaxLen, 4096u);
    EXPECT_EQ(record.dwDefaultLen, 2048u);
    release(h, 0);
}

TEST_F(Qzcore3, StaleAndForeignHandlesAreRefused) {
    const HCRYPTPROV a = container("ha", AT_SIGNATURE, 0x41000000);
    const HCRYPTPROV b = container("hb", AT_SIGNATURE, 0x04000000);
    HCRYPTKEY keyA = 0;
    ASSERT_TRUE(userKey(a, AT_SIGNATURE, &keyA));
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(createHash(a, CALG_SHA_256, 0, 0, &hash));
    BYTE out[512];
    DWORD size = sizeof out;
    EXPECT_EQ(failure([&] { return signHash(a, hash, AT_SIGNATURE, u"QZKSP", 0, out, &size); }),
              NTE_BAD_HASH_STATE);
    EXPECT_EQ(failure([&] { return createHash(a, 0x8009, 0, 0, &hash); }), NTE_BAD_ALGID);
    DWORD bits = 0;
    size = sizeof bits;
    EXPECT_EQ(failure([&] {
                  return getKeyParam(b, keyA, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &size, 0);
              }),
              NTE_BAD_KEY);
    EXPECT_EQ(failure([&] { return signHash(b, hash, AT_SIGNATURE, u"QZKSP", 0, out, &size); }),
              NTE_BAD_HASH);
    // An EC key does not encrypt; an RSA key refuses what PKCS#1 cannot pad.
    size = 16;
    EXPECT_EQ(failure([&] { return encrypt(a, keyA, 0, TRUE, 0, out, &size, sizeof out); }),
              NTE_BAD_KEY);
    HCRYPTKEY keyB = 0;
    ASSERT_TRUE(userKey(b, AT_SIGNATURE, &keyB));
    size = 118;
    EXPECT_EQ(failure([&] { return encrypt(b, keyB, 0, TRUE, 0, out, &size, sizeof out); }),
              NTE_BAD_LEN);
    size = 16;
    EXPECT_EQ(failure([&] { return encrypt(b, keyB, 0, TRUE, 0, out, &size, 100); }),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 128u);
    EXPECT_TRUE(release(a, 0));
    EXPECT_EQ(failure([&] { return release(a, 0); }), NTE_BAD_UID);
    EXPECT_EQ(failure([&] { return userKey(a, AT_SIGNATURE, &keyA); }), NTE_BAD_UID);
    release(b, 0);
}

}  // namespace
}  // namespace orva::softkey::test
