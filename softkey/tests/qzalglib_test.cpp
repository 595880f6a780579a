// QZAlgLib.so as the token API library meets it: loaded by name, called through
// its exports, with results checked against the openssl program.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "maker/qzalglib.h"
#include "maker_list_support.h"
#include "orva/testing/openssl.h"
#include "orva/testing/support.h"
#include "win32/errors.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;
using orva::testing::Bytes;

// The library's exports, in the order they are listed for it.
constexpr const char* kExports[] = {"QZA_Base64_Encode",
                                    "QZA_Base64_Decode",
                                    "QZA_Hash",
                                    "QZA_HashRelay",
                                    "QZA_Hash_Init",
                                    "QZA_Hash_Update",
                                    "QZA_Hash_Final",
                                    "QZA_SM3ZA",
                                    "QZA_Encrypt",
                                    "QZA_Decrypt",
                                    "QZA_StreamEncrypt_Init",
                                    "QZA_StreamEncrypt_Update",
                                    "QZA_StreamEncrypt_Final",
                                    "QZA_CMAC",
                                    "QZA_RSA_PubKey_Encrypt_QZKey",
                                    "QZA_RSA_PubKey_Encrypt_RSAEuro",
                                    "QZA_RSA_PriKey_Decrypt_RSAEuro",
                                    "QZA_RSA_Verify_QZKey",
                                    "QZA_RSA_Verify_RSAEuro",
                                    "QZA_RSA_Sign_PKCS1Padding",
                                    "QZA_RSA_Sign_PKCS1PSSPadding",
                                    "QZA_RSA_GenKey",
                                    "QZA_SM2_VerifySignature",
                                    "QZA_SM2_Sign",
                                    "QZA_SM2_Encrypt",
                                    "QZA_SM2_Decrypt",
                                    "QZA_ReverseMemCopy",
                                    "QZA_ReverseData",
                                    "QZA_DesMAC",
                                    "QZA_SM4MAC",
                                    "QZA_Random",
                                    "QZA_GetHashValueSize",
                                    "QZA_GetHashBlockSize",
                                    "QZA_GetSymmBlockSize",
                                    "QZA_GetSymmKeySize",
                                    "QZA_GetAsymKeyBits",
                                    "QZA_DecodeX509Cert",
                                    "QZA_VerifyPKCS7Signature_ORVA"};

// The exports that work; every other one only answers "not supported".
constexpr std::string_view kWorking[] = {
    "QZA_Base64_Encode",  "QZA_Hash",
    "QZA_Hash_Init",      "QZA_Hash_Update",
    "QZA_Hash_Final",     "QZA_GetHashValueSize",
    "QZA_SM3ZA",          "QZA_Random",
    "QZA_Encrypt",        "QZA_GetSymmBlockSize",
    "QZA_GetAsymKeyBits", "QZA_DecodeX509Cert",
};

using orva::testing::CommandResult;
using orva::testing::fromHex;
using orva::testing::opensslCommand;
using orva::testing::readFile;
using orva::testing::runCommand;
using orva::testing::shellQuote;
using orva::testing::TempDir;
using orva::testing::toHex;
using orva::testing::writeFile;

// Runs a command that must succeed and returns its output.
std::string runOk(const std::string& command) {
    const CommandResult result = runCommand(command);
    EXPECT_EQ(result.status, 0) << command << "\n" << result.output;
    return result.output;
}

// Bytes that differ from one position to the next and from one call to the next.
Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& b : out) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return out;
}

// A buffer with guard bytes after the room a call is given, to catch writes past it.
class Guarded {
  public:
    static constexpr std::uint8_t kGuard = 0xA5;
    static constexpr std::size_t kGuardSize = 16;

    explicit Guarded(std::size_t room, std::uint8_t fill = 0xEE)
        : room_(room), bytes_(room + kGuardSize, kGuard) {
        std::fill_n(bytes_.begin(), room, fill);
    }

    std::uint8_t* data() { return bytes_.data(); }
    char* chars() { return reinterpret_cast<char*>(bytes_.data()); }
    Bytes content() const {
        return Bytes(bytes_.begin(), bytes_.begin() + static_cast<long>(room_));
    }
    bool guardIntact() const {
        return std::all_of(bytes_.begin() + static_cast<long>(room_), bytes_.end(),
                           [](std::uint8_t b) { return b == kGuard; });
    }

  private:
    std::size_t room_;
    Bytes bytes_;
};

struct ModuleFree {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using Module = std::unique_ptr<OrvaModule, ModuleFree>;

TEST(QzaExports, TheBindingListIsTheExportList) {
    std::vector<std::pair<std::string, bool>> stated;
    for (const char* name : kExports) {
        stated.emplace_back(
            name, std::find(std::begin(kWorking), std::end(kWorking), name) != std::end(kWorking));
    }
    const auto bound = ORVA_TEST_MAKER_LIST(ORVA_QZALGLIB_NAMES);
    EXPECT_EQ(bound, stated);
}

TEST(QzaExports, EveryListedNameResolvesAndTheStubsAnswerNotSupported) {
    const std::string path = std::string(QZA_TEST_BIN_DIR) + "/QZAlgLib.dll";
    const Module module(LoadLibraryA(path.c_str()));
    ASSERT_NE(module, nullptr) << orva_platform_last_load_error();
    EXPECT_EQ(GetProcAddress(module.get(), "QZA_NoSuchCall"), nullptr);
    int stubs = 0;
    for (const char* name : kExports) {
        const FARPROC found = GetProcAddress(module.get(), name);
        ASSERT_NE(found, nullptr) << name;
        if (std::find(std::begin(kWorking), std::end(kWorking), name) != std::end(kWorking)) {
            continue;
        }
        EXPECT_EQ(reinterpret_cast<std::int32_t (*)()>(found)(), QZA_E_NOT_SUPPORTED) << name;
        ++stubs;
    }
    EXPECT_EQ(stubs, 26);
}

TEST(QzaExports, ExportsNothingElse) {
    const std::string path = std::string(QZA_TEST_BIN_DIR) + "/QZAlgLib.so";
    const CommandResult nm =
        runCommand(shellQuote(QZA_TEST_NM) + " -D --defined-only " + shellQuote(path));
    ASSERT_EQ(nm.status, 0) << nm.output;
    std::vector<std::string> found;
    std::istringstream lines(nm.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) {
            found.push_back(name);
        }
    }
    std::vector<std::string> expected(std::begin(kExports), std::end(kExports));
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
}

std::string base64(const Bytes& data) {
    Guarded out((data.size() + 2) / 3 * 4);
    const std::int32_t n =
        QZA_Base64_Encode(data.data(), static_cast<std::uint32_t>(data.size()), out.chars());
    EXPECT_TRUE(out.guardIntact()) << "written past 4*ceil(n/3) for " << data.size() << " bytes";
    return n <= 0 ? std::string() : std::string(out.chars(), static_cast<std::size_t>(n));
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(QzaBase64, KnownVectorsForEveryPaddingCase) {
    const std::pair<std::string_view, std::string_view> kCases[] = {
        {"f", "Zg=="},           {"fo", "Zm8="},        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},    {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF\xBF", "+/+/"}};
    for (const auto& [in, out] : kCases) {
        EXPECT_EQ(base64(bytesOf(in)), out) << in;
    }
}

TEST(QzaBase64, MatchesTheOpensslProgramAcrossInternalBlockSizes) {
    TempDir dir;
    // 768 bytes is where the encoder starts a new block.
    for (std::size_t size : {1u, 2u, 3u, 255u, 256u, 767u, 768u, 769u, 770u, 1536u, 4000u}) {
        const Bytes data = pattern(size, static_cast<std::uint32_t>(size));
        writeFile(dir.path() / "in", data);
        std::string expected = runOk(opensslCommand("base64 -A -in " + dir.arg("in")));
        while (!expected.empty() && expected.back() == '\n') {
            expected.pop_back();
        }
        EXPECT_EQ(base64(data), expected) << size << " bytes";
    }
}

TEST(QzaBase64, ReturnsTheCharacterCountAndWritesNoNul) {
    for (std::uint32_t size = 1; size <= 10; ++size) {
        const Bytes data(size, 0);
        const std::size_t chars = (size + 2) / 3 * 4;
        Guarded out(chars);
        EXPECT_EQ(QZA_Base64_Encode(data.data(), size, out.chars()),
                  static_cast<std::int32_t>(chars));
        EXPECT_TRUE(out.guardIntact()) << size;
        EXPECT_EQ(std::memchr(out.chars(), '\0', chars), nullptr) << size;
    }
}

TEST(QzaBase64, FailureIsZeroAndLeavesOutputAlone) {
    const Bytes data = bytesOf("abc");
    Guarded out(8);
    EXPECT_EQ(QZA_Base64_Encode(data.data(), 0, out.chars()), 0);
    EXPECT_EQ(QZA_Base64_Encode(nullptr, 3, out.chars()), 0);
    EXPECT_EQ(QZA_Base64_Encode(data.data(), 3, nullptr), 0);
    // 4 * ceil(n / 3) over INT32_MAX: refused before the 3 bytes given are overrun.
    EXPECT_EQ(QZA_Base64_Encode(data.data(), 0xFFFFFFFFu, out.chars()), 0);
    EXPECT_EQ(QZA_Base64_Encode(data.data(), 1610612736u, out.chars()), 0);
    EXPECT_EQ(out.content(), Bytes(8, 0xEE));
    EXPECT_TRUE(out.guardIntact());
}

Bytes hash(std::uint32_t alg, const Bytes& data) {
    const std::int32_t size = QZA_GetHashValueSize(alg);
    EXPECT_GT(size, 0);
    Guarded out(static_cast<std::size_t>(std::max(size, 0)));
    const std::uint8_t none = 0;
    EXPECT_EQ(QZA_Hash(alg, data.empty() ? &none : data.data(),
                       static_cast<std::uint32_t>(data.size()), out.data()),
              0);
    EXPECT_TRUE(out.guardIntact()) << "digest " << alg << " wrote past its size";
    return out.content();
}

TEST(QzaHash, Sm3StandardVectors) {
    EXPECT_EQ(toHex(hash(QZA_HASH_SM3, bytesOf("abc"))),
              "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    std::string sixtyFour;
    for (int i = 0; i < 16; ++i) {
        sixtyFour += "abcd";
    }
    EXPECT_EQ(toHex(hash(QZA_HASH_SM3, bytesOf(sixtyFour))),
              "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732");
}

TEST(QzaHash, EveryIdMatchesTheOpensslProgram) {
    struct Case {
        std::uint32_t alg;
        const char* dgstName;
        std::int32_t size;
    };
    constexpr Case kCases[] = {
        {QZA_HASH_SHA1, "sha1", 20},     {QZA_HASH_SHA256, "sha256", 32},
        {QZA_HASH_SHA384, "sha384", 48}, {QZA_HASH_SHA512, "sha512", 64},
        {QZA_HASH_SM3, "sm3", 32},
    };
    TempDir dir;
    for (std::size_t size : {0u, 1u, 1000u}) {
        const Bytes data = pattern(size, 7);
        writeFile(dir.path() / "in", data);
        for (const Case& c : kCases) {
            EXPECT_EQ(QZA_GetHashValueSize(c.alg), c.size) << c.dgstName;
            runOk(opensslCommand(std::string("dgst -") + c.dgstName + " -binary -out " +
                                 dir.arg("md") + " " + dir.arg("in")));
            EXPECT_EQ(hash(c.alg, data), readFile(dir.path() / "md")) << c.dgstName << " " << size;
        }
    }
}

TEST(QzaHash, UnknownIdsHaveNoSizeAndAreNotSupported) {
    const Bytes data = bytesOf("abc");
    for (std::uint32_t alg : {0u, 1u, 2u, 3u, 9u, 208u, 0xFFFFFFFFu}) {
        EXPECT_EQ(QZA_GetHashValueSize(alg), 0) << alg;
        Guarded out(64);
        EXPECT_EQ(QZA_Hash(alg, data.data(), 3, out.data()), QZA_E_NOT_SUPPORTED) << alg;
        EXPECT_EQ(out.content(), Bytes(64, 0xEE)) << alg;
    }
}

TEST(QzaHash, NullPointersAreBadArguments) {
    const Bytes data = bytesOf("abc");
    Guarded out(32);
    SetLastError(0);
    EXPECT_EQ(QZA_Hash(QZA_HASH_SM3, nullptr, 3, out.data()), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(QZA_Hash(QZA_HASH_SM3, data.data(), 3, nullptr), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(out.content(), Bytes(32, 0xEE));
}

TEST(QzaHashStreaming, ContextsAreCheckedAndEndedByFinal) {
    // "abc" in two pieces: the standard vector.
    void* context = nullptr;
    ASSERT_EQ(QZA_Hash_Init(QZA_HASH_SM3, &context), 0);
    EXPECT_EQ(QZA_Hash_Update(context, bytesOf("a").data(), 1), 0);
    EXPECT_EQ(QZA_Hash_Update(context, bytesOf("bc").data(), 2), 0);
    Guarded digest(32);
    std::uint32_t digestLength = 32;
    EXPECT_EQ(QZA_Hash_Final(context, digest.data(), &digestLength), 0);
    EXPECT_EQ(toHex(digest.content()),
              "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    EXPECT_TRUE(digest.guardIntact());

    context = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(QZA_Hash_Init(208, &context), QZA_E_NOT_SUPPORTED);
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(QZA_Hash_Init(QZA_HASH_SM3, nullptr), QZA_E_BAD_ARGUMENT);

    const std::uint8_t byte = 'a';
    std::uint32_t length = 32;
    Guarded out(32);
    int local = 0;
    // A number never handed out, and an address, are no contexts.
    EXPECT_EQ(QZA_Hash_Update(&local, &byte, 1), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_Hash_Final(nullptr, out.data(), &length), QZA_E_BAD_ARGUMENT);

    // Too little room ends the context all the same.
    ASSERT_EQ(QZA_Hash_Init(QZA_HASH_SM3, &context), 0);
    length = 31;
    EXPECT_EQ(QZA_Hash_Final(context, out.data(), &length), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_Hash_Update(context, &byte, 1), QZA_E_BAD_ARGUMENT);
    // Abandoning one: a null digest ends it.
    ASSERT_EQ(QZA_Hash_Init(QZA_HASH_SM3, &context), 0);
    EXPECT_EQ(QZA_Hash_Final(context, nullptr, nullptr), 0);
    length = 32;
    EXPECT_EQ(QZA_Hash_Final(context, out.data(), &length), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(out.content(), Bytes(32, 0xEE));
}

// ---- SM2 Z ----

// An SM2 key made by the openssl program, and its public point.
struct Sm2Key {
    std::string pem;  // quoted path
    Bytes x, y;
};

Sm2Key makeSm2Key(const TempDir& dir, std::string_view name) {
    Sm2Key key;
    key.pem = dir.arg(std::string(name) + ".pem");
    runOk(opensslCommand("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out " + key.pem));
    runOk(opensslCommand("pkey -in " + key.pem + " -pubout -outform DER -out " +
                         dir.arg(std::string(name) + ".pub")));
    // The SubjectPublicKeyInfo ends with the uncompressed point 04 || X || Y.
    const Bytes spki = readFile(dir.path() / (std::string(name) + ".pub"));
    if (spki.size() >= 65 && spki[spki.size() - 65] == 0x04) {
        key.x.assign(spki.end() - 64, spki.end() - 32);
        key.y.assign(spki.end() - 32, spki.end());
    }
    return key;
}

Bytes sm3za(const Bytes& x, const Bytes& y) {
    Guarded z(32);
    std::uint32_t zLen = 32;
    EXPECT_EQ(QZA_SM3ZA(x.data(), static_cast<std::uint32_t>(x.size()), y.data(),
                        static_cast<std::uint32_t>(y.size()), z.data(), &zLen),
              0);
    EXPECT_EQ(zLen, 32u);
    EXPECT_TRUE(z.guardIntact());
    return z.content();
}

// Does the openssl program accept sig as an SM2 signature over the digest e?
bool opensslVerifiesDigest(const TempDir& dir, const Sm2Key& key, const Bytes& e) {
    writeFile(dir.path() / "e", e);
    // Without -rawin, pkeyutl takes its input as the digest itself.
    const CommandResult r =
        runCommand(opensslCommand("pkeyutl -verify -in " + dir.arg("e") + " -sigfile " +
                                  dir.arg("sig") + " -inkey " + key.pem));
    return r.status == 0 && r.output.find("Signature Verified Successfully") != std::string::npos;
}

TEST(QzaSm3Za, IsTheZTheOpensslProgramSignsWithUnderTheDefaultId) {
    TempDir dir;
    const Sm2Key key = makeSm2Key(dir, "signer");
    ASSERT_EQ(key.x.size(), 32u);
    const std::string message = "transfer 100.00 to account 6222 0000 1111 2222";
    writeFile(dir.path() / "msg", message);
    runOk(
        opensslCommand("pkeyutl -sign -rawin -digest sm3 -pkeyopt distid:1234567812345678 -inkey " +
                       key.pem + " -in " + dir.arg("msg") + " -out " + dir.arg("sig")));

    const auto digestOf = [&](const Bytes& z) {
        Bytes input = z;
        input.insert(input.end(), message.begin(), message.end());
        return hash(QZA_HASH_SM3, input);
    };
    EXPECT_TRUE(opensslVerifiesDigest(dir, key, digestOf(sm3za(key.x, key.y))));

    // The check has teeth: Z of another key gives a digest the signature does not match.
    const Sm2Key other = makeSm2Key(dir, "other");
    ASSERT_EQ(other.x.size(), 32u);
    EXPECT_FALSE(opensslVerifiesDigest(dir, key, digestOf(sm3za(other.x, other.y))));
}

TEST(QzaSm3Za, CoordinatesAreNumbersWhateverTheirWidth) {
    Bytes x = pattern(32, 1);
    Bytes y = pattern(32, 2);
    x[0] = 0;
    const Bytes z = sm3za(x, y);
    // Leading zero dropped, or the zero-filled 64-byte field of a key blob.
    EXPECT_EQ(sm3za(Bytes(x.begin() + 1, x.end()), y), z);
    Bytes wideY(32, 0);
    wideY.insert(wideY.end(), y.begin(), y.end());
    EXPECT_EQ(sm3za(x, wideY), z);
    // And they do take part.
    y[31] ^= 1;
    EXPECT_NE(sm3za(x, y), z);
}

TEST(QzaSm3Za, RejectsCoordinatesThatDoNotFitAndNullPointers) {
    const Bytes y = pattern(32, 2);
    std::uint8_t z[32] = {};
    std::uint32_t zLen = sizeof z;
    Bytes wide(64, 0);
    wide[31] = 1;  // a value over 256 bits
    const Bytes tooLong(65, 0);
    EXPECT_EQ(QZA_SM3ZA(wide.data(), 64, y.data(), 32, z, &zLen), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_SM3ZA(tooLong.data(), 65, y.data(), 32, z, &zLen), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_SM3ZA(y.data(), 0, y.data(), 32, z, &zLen), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_SM3ZA(y.data(), 32, y.data(), 0, z, &zLen), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_SM3ZA(nullptr, 32, y.data(), 32, z, &zLen), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_SM3ZA(y.data(), 32, nullptr, 32, z, &zLen), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_SM3ZA(y.data(), 32, y.data(), 32, nullptr, &zLen), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(QZA_SM3ZA(y.data(), 32, y.data(), 32, z, nullptr), QZA_E_BAD_ARGUMENT);
}

TEST(QzaSm3Za, OutputRoomIsCheckedAndTheLengthReported) {
    const Bytes x = pattern(32, 1), y = pattern(32, 2);
    Guarded small(31);
    std::uint32_t zLen = 31;
    EXPECT_EQ(QZA_SM3ZA(x.data(), 32, y.data(), 32, small.data(), &zLen), QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(zLen, 32u);
    EXPECT_EQ(small.content(), Bytes(31, 0xEE));
    EXPECT_TRUE(small.guardIntact());

    Guarded large(100);
    zLen = 100;
    EXPECT_EQ(QZA_SM3ZA(x.data(), 32, y.data(), 32, large.data(), &zLen), 0);
    EXPECT_EQ(zLen, 32u);
    const Bytes content = large.content();
    EXPECT_EQ(Bytes(content.begin(), content.begin() + 32), sm3za(x, y));
    EXPECT_EQ(Bytes(content.begin() + 32, content.end()), Bytes(68, 0xEE));
}

Bytes sm4(std::uint32_t mode, const Bytes& key, const Bytes& in) {
    Guarded out(in.size());
    EXPECT_EQ(
        QZA_Encrypt(QZA_SYMM_SM4_ECB, mode, key.data(), static_cast<std::uint32_t>(key.size()), 0,
                    nullptr, in.data(), static_cast<std::uint32_t>(in.size()), out.data()),
        0);
    EXPECT_TRUE(out.guardIntact());
    return out.content();
}

TEST(QzaSm4, StandardVectorAlsoInPlace) {
    const Bytes key = fromHex("0123456789abcdeffedcba9876543210");
    const Bytes cipher = sm4(QZA_SYMM_MODE_ENCRYPT, key, key);
    EXPECT_EQ(toHex(cipher), "681edf34d206965e86b3e94f536e4246");
    EXPECT_EQ(sm4(QZA_SYMM_MODE_DECRYPT, key, cipher), key);

    Bytes data = pattern(64, 9);
    const Bytes expected = sm4(QZA_SYMM_MODE_ENCRYPT, key, data);
    ASSERT_EQ(QZA_Encrypt(QZA_SYMM_SM4_ECB, QZA_SYMM_MODE_ENCRYPT, key.data(), 16, 0, nullptr,
                          data.data(), 64, data.data()),
              0);
    EXPECT_EQ(data, expected);
}

TEST(QzaSm4, MatchesTheOpensslProgramBothWays) {
    TempDir dir;
    const Bytes key = pattern(16, 3);
    const std::string keyHex = toHex(key);
    for (std::size_t size : {16u, 48u, 4096u}) {
        const Bytes plain = pattern(size, static_cast<std::uint32_t>(size));
        writeFile(dir.path() / "plain", plain);
        runOk(opensslCommand("enc -sm4-ecb -nopad -K " + keyHex + " -in " + dir.arg("plain") +
                             " -out " + dir.arg("cipher")));
        const Bytes expected = readFile(dir.path() / "cipher");
        EXPECT_EQ(sm4(QZA_SYMM_MODE_ENCRYPT, key, plain), expected) << size;
        EXPECT_EQ(sm4(QZA_SYMM_MODE_DECRYPT, key, expected), plain) << size;
    }
}

TEST(QzaSm4, KeyIsItsFirstSixteenBytes) {
    const Bytes plain = pattern(32, 5);
    Bytes longKey = pattern(32, 6);
    const Bytes expected =
        sm4(QZA_SYMM_MODE_ENCRYPT, Bytes(longKey.begin(), longKey.begin() + 16), plain);
    EXPECT_EQ(sm4(QZA_SYMM_MODE_ENCRYPT, longKey, plain), expected);
    longKey[20] ^= 0xFF;
    EXPECT_EQ(sm4(QZA_SYMM_MODE_ENCRYPT, longKey, plain), expected);
}

TEST(QzaSm4, RejectsWhatItCannotDoAndWritesNothing) {
    const Bytes key(16, 1), iv(16, 2), in(32, 3);
    struct Case {
        const char* what;
        std::uint32_t alg, mode;
        const std::uint8_t* key;
        std::uint32_t keyLen, ivLen;
        const std::uint8_t* iv;
        const std::uint8_t* in;
        std::uint32_t inLen;
        bool nullOut;
        std::int32_t expected;
    };
    const std::uint8_t* k = key.data();
    const std::uint8_t* i = in.data();
    const Case kCases[] = {
        {"other algorithm", 207, 1, k, 16, 0, nullptr, i, 32, false, QZA_E_NOT_SUPPORTED},
        {"mode 0", 208, 0, k, 16, 0, nullptr, i, 32, false, QZA_E_BAD_ARGUMENT},
        {"mode 3", 208, 3, k, 16, 0, nullptr, i, 32, false, QZA_E_BAD_ARGUMENT},
        {"short key", 208, 1, k, 15, 0, nullptr, i, 32, false, QZA_E_BAD_ARGUMENT},
        {"iv given", 208, 1, k, 16, 16, iv.data(), i, 32, false, QZA_E_BAD_ARGUMENT},
        {"iv length only", 208, 1, k, 16, 16, nullptr, i, 32, false, QZA_E_BAD_ARGUMENT},
        {"iv pointer only", 208, 1, k, 16, 0, iv.data(), i, 32, false, QZA_E_BAD_ARGUMENT},
        {"no input", 208, 1, k, 16, 0, nullptr, i, 0, false, QZA_E_BAD_ARGUMENT},
        {"partial block", 208, 1, k, 16, 0, nullptr, i, 31, false, QZA_E_BAD_ARGUMENT},
        {"partial block after one", 208, 2, k, 16, 0, nullptr, i, 17, false, QZA_E_BAD_ARGUMENT},
        {"null key", 208, 1, nullptr, 16, 0, nullptr, i, 32, false, QZA_E_BAD_ARGUMENT},
        {"null input", 208, 1, k, 16, 0, nullptr, nullptr, 32, false, QZA_E_BAD_ARGUMENT},
        {"null output", 208, 1, k, 16, 0, nullptr, i, 32, true, QZA_E_BAD_ARGUMENT},
    };
    for (const Case& c : kCases) {
        Guarded out(32);
        EXPECT_EQ(QZA_Encrypt(c.alg, c.mode, c.key, c.keyLen, c.ivLen, c.iv, c.in, c.inLen,
                              c.nullOut ? nullptr : out.data()),
                  c.expected)
            << c.what;
        EXPECT_EQ(out.content(), Bytes(32, 0xEE)) << c.what;
        EXPECT_TRUE(out.guardIntact()) << c.what;
    }
}

TEST(QzaRandom, FillsExactlyTheBufferWithFreshBytes) {
    Guarded a(32, 0), b(32, 0);
    ASSERT_EQ(QZA_Random(a.data(), 32), 0);
    ASSERT_EQ(QZA_Random(b.data(), 32), 0);
    EXPECT_NE(a.content(), Bytes(32, 0));
    EXPECT_NE(a.content(), b.content());
    EXPECT_TRUE(a.guardIntact());
    EXPECT_TRUE(b.guardIntact());

    // Over the size RAND_bytes is given at once: filled to the end.
    const std::size_t size = 3 * (std::size_t{1} << 20) + 100;
    Guarded big(size, 0);
    ASSERT_EQ(QZA_Random(big.data(), static_cast<std::uint32_t>(size)), 0);
    const Bytes content = big.content();
    EXPECT_NE(Bytes(content.end() - 64, content.end()), Bytes(64, 0));
    EXPECT_TRUE(big.guardIntact());

    std::uint8_t one = 0;
    EXPECT_EQ(QZA_Random(&one, 0), 0);
    EXPECT_EQ(QZA_Random(nullptr, 16), QZA_E_BAD_ARGUMENT);
}

TEST(QzaSizes, SymmBlockAndAsymKeyBitsTables) {
    EXPECT_EQ(QZA_GetSymmBlockSize(QZA_SYMM_SM4_ECB), 16);
    for (std::uint32_t alg : {0u, 1u, 207u, 209u, 0xFFFFFFFFu}) {
        EXPECT_EQ(QZA_GetSymmBlockSize(alg), 0) << alg;
    }
    EXPECT_EQ(QZA_GetAsymKeyBits(QZA_ALG_RSA), 1024);
    EXPECT_EQ(QZA_GetAsymKeyBits(QZA_ALG_RSA1024), 1024);
    EXPECT_EQ(QZA_GetAsymKeyBits(QZA_ALG_RSA2048), 2048);
    EXPECT_EQ(QZA_GetAsymKeyBits(QZA_ALG_SM2), 256);
    for (std::uint32_t alg : {0u, 4u, 9u, 11u, 208u, 0xFFFFFFFFu}) {
        EXPECT_EQ(QZA_GetAsymKeyBits(alg), 0) << alg;
    }
}

constexpr std::size_t kSubjectRoom = 1024;

// Certificates made by the openssl program for the subjects a test needs.
class QzaDecodeX509Cert : public testing::Test {
  protected:
    void SetUp() override {
        runOk(opensslCommand("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " +
                             dir_.arg("key.pem")));
        // 1.2.3.4.5 gets a name in the openssl program only, so that the
        // library sees an attribute it does not know.
        writeFile(dir_.path() / "utf8.cnf",
                  "oid_section = oids\n[oids]\ntestAttribute = 1.2.3.4.5\n"
                  "[req]\ndistinguished_name = dn\nstring_mask = utf8only\n[dn]\n");
        // Every string that can be a BMPString is one.
        writeFile(dir_.path() / "bmp.cnf",
                  "[req]\ndistinguished_name = dn\nstring_mask = MASK:0x800\n[dn]\n");
    }

    Bytes makeCert(const std::string& subject, std::string_view config = "utf8.cnf",
                   std::string_view extra = "") {
        const std::string out = dir_.arg("cert.der");
        runOk(opensslCommand("req -x509 -new -utf8 -days 1 -key " + dir_.arg("key.pem") +
                             " -config " + dir_.arg(config) + " " + std::string(extra) + " -subj " +
                             shellQuote(subject) + " -outform DER -out " + out));
        return readFile(dir_.path() / "cert.der");
    }

    // The subject the library decodes; "<result>" when it fails.
    std::string decode(const Bytes& der, std::int32_t* result = nullptr) {
        Guarded subject(kSubjectRoom, 'X');
        const std::int32_t r = QZA_DecodeX509Cert(
            der.data(), static_cast<std::uint32_t>(der.size()), nullptr, nullptr, nullptr, nullptr,
            nullptr, nullptr, subject.chars(), nullptr, nullptr, nullptr, nullptr);
        EXPECT_TRUE(subject.guardIntact());
        if (result != nullptr) {
            *result = r;
        }
        const char* text = subject.chars();
        const std::size_t length = strnlen(text, kSubjectRoom);
        EXPECT_LT(length, kSubjectRoom) << "no NUL in the room given";
        if (r != 0) {
            EXPECT_EQ(length, 0u) << "a failure must leave the subject empty";
            return "<" + std::to_string(r) + ">";
        }
        return std::string(text, length);
    }

    TempDir dir_;
};

// Most specific attribute first, short names, UTF-8 values escaped as RFC 4514
// escapes them, unknown attributes as their OID, and every attribute of a
// multi-valued name as an item of its own.
TEST_F(QzaDecodeX509Cert, SubjectText) {
    struct Case {
        std::string request, expected;
        std::string_view extra = "";
    };
    const Case kCases[] = {
        {"/C=CN/O=Orva Bank/OU=Retail/CN=Alice", "CN=Alice,OU=Retail,O=Orva Bank,C=CN"},
        {"/C=CN/ST=Beijing/L=Haidian/O=Orva/CN=Bob/emailAddress=bob@orva.example",
         "E=bob@orva.example,CN=Bob,O=Orva,L=Haidian,ST=Beijing,C=CN"},
        {"/C=CN/O=测试银行/OU=個人業務/CN=张三", "CN=张三,OU=個人業務,O=测试银行,C=CN"},
        {"/O=Smith, Jones \\+ Co=\"q\"/CN= padded ",
         "CN=\\ padded\\ ,O=Smith\\, Jones \\+ Co=\\\"q\\\""},
        {"/CN=Wang Wu/O=x,CN=Zhang San", "O=x\\,CN=Zhang San,CN=Wang Wu"},
        {"/CN=#1 <a>;b\\\\c/OU=\\ /O=a #", "O=a #,OU=\\ ,CN=\\#1 \\<a\\>\\;b\\\\c"},
        {"/CN=|x|/O=a||CN=b", "O=a\\7C\\7CCN=b,CN=\\7Cx\\7C"},
        {"/testAttribute=custom/CN=x", "CN=x,1.2.3.4.5=custom"},
        {"/O=Orva/CN=a+UID=b", "UID=b,CN=a,O=Orva", "-multivalue-rdn"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(decode(makeCert(c.request, "utf8.cnf", c.extra)), c.expected);
    }
}

TEST_F(QzaDecodeX509Cert, BmpStringValuesAreConverted) {
    const Bytes der = makeCert("/C=CN/O=Orva/CN=王五", "bmp.cnf");
    // The premise: the openssl program did store them as BMPString.
    writeFile(dir_.path() / "bmp.der", der);
    EXPECT_NE(
        runOk(opensslCommand("asn1parse -inform DER -in " + dir_.arg("bmp.der"))).find("BMPSTRING"),
        std::string::npos);
    EXPECT_EQ(decode(der), "CN=王五,O=Orva,C=CN");
}

TEST_F(QzaDecodeX509Cert, LongSubjectsAreCutAtACharacterBoundary) {
    // "CN=<pad>" then ",OU=<60 three-byte characters>" repeated: the pad
    // length moves byte 1023 to each position within a character.
    std::string ou;
    for (int i = 0; i < 60; ++i) {
        ou += "汉";
    }
    struct Case {
        std::size_t pad;
        std::size_t expectedLength;
    };
    for (const Case c : {Case{10, 1021}, Case{11, 1022}, Case{12, 1023}}) {
        const std::string cn(c.pad, 'p');
        std::string request, full = "CN=" + cn;
        for (int i = 0; i < 7; ++i) {
            request += "/OU=" + ou;
            full += ",OU=" + ou;
        }
        request += "/CN=" + cn;
        ASSERT_GT(full.size(), 1024u);
        const std::string subject = decode(makeCert(request));
        EXPECT_EQ(subject.size(), c.expectedLength) << "pad " << c.pad;
        EXPECT_EQ(subject, full.substr(0, c.expectedLength)) << "pad " << c.pad;
    }
}

TEST_F(QzaDecodeX509Cert, LongSubjectsAreNeverCutInsideAnEscape) {
    // "CN=<pad>" then 16 times ",OU=" and 32 escaped characters: the pad moves
    // byte 1023 to each byte of an escape, and an escape cut there goes whole.
    struct Case {
        char character;
        std::string_view escape;
        std::size_t pad, expectedLength;
    };
    const Case kCases[] = {
        {',', "\\,", 10, 1023},  {',', "\\,", 11, 1022},  {'|', "\\7C", 10, 1023},
        {'|', "\\7C", 11, 1021}, {'|', "\\7C", 12, 1022},
    };
    for (const Case& c : kCases) {
        std::string escaped;
        for (int i = 0; i < 32; ++i) {
            escaped += c.escape;
        }
        const std::string cn(c.pad, 'p');
        std::string request, full = "CN=" + cn;
        for (int i = 0; i < 16; ++i) {
            request += "/OU=" + std::string(32, c.character);
            full += ",OU=" + escaped;
        }
        request += "/CN=" + cn;
        const std::string subject = decode(makeCert(request));
        EXPECT_EQ(subject, full.substr(0, c.expectedLength)) << c.escape << " pad " << c.pad;
    }
}

TEST_F(QzaDecodeX509Cert, SubjectOfExactlyTheLimitIsKept) {
    // 3 + 30 + 15 * (4 + 62) = 1023 bytes: one more would be cut.
    std::string request, full;
    const std::string ou(62, 'o');
    for (int i = 0; i < 15; ++i) {
        request += "/OU=" + ou;
        full = ",OU=" + ou + full;
    }
    const std::string cn(30, 'c');
    request += "/CN=" + cn;
    full = "CN=" + cn + full;
    ASSERT_EQ(full.size(), 1023u);
    EXPECT_EQ(decode(makeCert(request)), full);
}

TEST_F(QzaDecodeX509Cert, MalformedCertificatesFailWithAnEmptySubject) {
    const Bytes good = makeCert("/CN=good");
    EXPECT_EQ(decode(good), "CN=good");
    EXPECT_EQ(decode(pattern(200, 11)), "<-1>");
    EXPECT_EQ(decode(Bytes(good.begin(), good.end() - 1)), "<-1>");
    Bytes trailing = good;
    trailing.push_back(0);
    EXPECT_EQ(decode(trailing), "<-1>");
    // A SEQUENCE that claims more than it has.
    EXPECT_EQ(decode(Bytes{0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x02, 0x01}), "<-1>");

    // A value with a NUL.
    Bytes der = makeCert("/O=Orva/CN=nulXmarker");
    // The name is both issuer and subject: change every copy.
    const std::string_view marker = "nulXmarker";
    int copies = 0;
    for (auto at = der.begin();
         (at = std::search(at, der.end(), marker.begin(), marker.end())) != der.end(); ++at) {
        *(at + 3) = 0;
        ++copies;
    }
    ASSERT_EQ(copies, 2);
    EXPECT_EQ(decode(der), "<-1>");
}

TEST_F(QzaDecodeX509Cert, OtherOutputsAreNotSupportedAndNullOrEmptyInputsAreBad) {
    const Bytes der = makeCert("/CN=only the subject");
    char text[64] = {};
    std::uint8_t bytes[64] = {};
    std::uint32_t number = 0;
    for (int which = 0; which < 10; ++which) {
        char subject[kSubjectRoom];
        std::memset(subject, 'X', sizeof subject);
        const auto out = [&](int i) { return which == i ? text : nullptr; };
        const std::int32_t r = QZA_DecodeX509Cert(
            der.data(), static_cast<std::uint32_t>(der.size()), out(0), out(1), out(2), out(3),
            out(4), out(5), subject, out(6), which == 7 ? bytes : nullptr,
            which == 8 ? &number : nullptr, which == 9 ? &number : nullptr);
        EXPECT_EQ(r, QZA_E_NOT_SUPPORTED) << which;
        EXPECT_EQ(subject[0], '\0') << which;
    }

    char subject[kSubjectRoom];
    std::memset(subject, 'X', sizeof subject);
    EXPECT_EQ(QZA_DecodeX509Cert(nullptr, 10, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 subject, nullptr, nullptr, nullptr, nullptr),
              QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(subject[0], '\0');
    std::memset(subject, 'X', sizeof subject);
    EXPECT_EQ(QZA_DecodeX509Cert(der.data(), 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, subject, nullptr, nullptr, nullptr, nullptr),
              QZA_E_BAD_ARGUMENT);
    EXPECT_EQ(subject[0], '\0');
    EXPECT_EQ(QZA_DecodeX509Cert(der.data(), static_cast<std::uint32_t>(der.size()), nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr),
              QZA_E_BAD_ARGUMENT);
}

}  // namespace
