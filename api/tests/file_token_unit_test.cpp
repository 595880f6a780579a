// File tokens seen from inside the library, with the algorithm library's
// entries replaced where a test must know or break them: the token's digits
// are SM3 over path, file and salt (and SM4 of that for a named file), as the
// openssl command line computes them, whatever the file's size; and a failing
// entry leaves no token, record or key behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base64_codec.h"
#include "bound_function_table.h"
#include "file_token.h"
#include "file_token_state.h"
#include "library_lifecycle.h"
#include "orva/testing/openssl.h"
#include "orva_api.h"
#include "orva_result_codes.h"
#include "signature_file.h"
#include "signer_cn.h"
#include "signing_support.h"
#include "win32/module.h"

namespace orva::api {
namespace {

using orva::testing::toHex;
using test::fs::path;

constexpr std::uint8_t kDrawn = 0x5A;

// Every random draw gives kDrawn bytes, so a test knows the salt and the key.
std::int32_t knownRandom(std::uint8_t* buffer, std::uint32_t len) {
    std::fill_n(buffer, len, kDrawn);
    return 0;
}

class FileTokenInside : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(processAttach(GetModuleHandleA(nullptr)), TRUE);
        original_ = boundFunctions().qzAlgLib;
        boundFunctions().qzAlgLib.QZA_Random = knownRandom;
        FileTokenState& state = fileTokenState();
        state.chosenFile.reset();
        state.signedFile.reset();
        state.key.drawn = false;
        state.failedOpens = 0;
        test::plugSigningKey(env_, {test::kSm2Zhang});
    }
    void TearDown() override {
        boundFunctions().qzAlgLib = original_;
        processDetach();
    }

    // The token's 64 digits, or the export's code.
    std::string namedToken(const path& file) {
        std::string buffer(2048, '\0');
        int length = static_cast<int>(buffer.size());
        const int code = QZAPI_FileToTokenExt(file.c_str(), buffer.data(), &length);
        if (code != kSuccess) {
            return std::to_string(code);
        }
        const auto text = base64Decode(std::string_view(buffer.c_str()));
        return text ? std::string(text->begin() + 6, text->begin() + 70) : "not base64";
    }

    std::string openssl(const std::string& arguments) {
        const auto result = test::runCommand("cd '" + env_.root().string() + "' && " +
                                             orva::testing::opensslCommand(arguments));
        EXPECT_EQ(result.status, 0) << arguments << "\n" << result.output;
        return result.output;
    }

    test::TestEnvironment env_;
    QZAlgLibApi original_;
};

TEST_F(FileTokenInside, DigitsAreOpensslsWhateverTheSize) {
    // Around the 1 MiB block the file is streamed in.
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{1} << 20, (std::size_t{1} << 20) + 1, std::size_t{5} << 19}) {
        SCOPED_TRACE(size);
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            content[i] = static_cast<char>(i * 131 + (i >> 12));
        }
        env_.writeFile("file.bin", content);
        const path file = env_.root() / "file.bin";
        // What is digested: the path, the file, the salt.
        env_.writeFile("digested", file.string() + content + std::string(32, char(kDrawn)));
        const std::string digest =
            openssl("dgst -sm3 -binary digested | od -An -tx1 -v | tr -d ' \\n'");
        // A named file's digest is encrypted with the first 16 bytes of the key.
        const std::string encrypted =
            openssl("dgst -sm3 -binary digested | openssl enc -sm4-ecb -nopad -K " +
                    toHex(Bytes(16, kDrawn)) + " | od -An -tx1 -v | tr -d ' \\n'");
        EXPECT_EQ(namedToken(file), encrypted);

        setenv("ORVA_FILE_DIALOG", ("echo '" + file.string() + "'").c_str(), 1);
        std::string buffer(2048, '\0');
        int length = static_cast<int>(buffer.size());
        ASSERT_EQ(QZAPI_ChooseFileExt(buffer.data(), &length), kSuccess);
        unsetenv("ORVA_FILE_DIALOG");
        const auto text = base64Decode(std::string_view(buffer.c_str()));
        ASSERT_TRUE(text);
        EXPECT_EQ(std::string(text->begin() + 6, text->begin() + 70), digest);
    }
}

std::int32_t failingRandom(std::uint8_t* buffer, std::uint32_t len) {
    std::fill_n(buffer, len, 0);
    return QZA_E_FAILED;
}

// Fails the second draw: the salt comes, the key does not.
std::int32_t secondRandomFails(std::uint8_t* buffer, std::uint32_t len) {
    static int calls = 0;
    return ++calls % 2 == 0 ? failingRandom(buffer, len) : knownRandom(buffer, len);
}

std::int32_t failingUpdate(void*, const std::uint8_t*, std::uint32_t) {
    return QZA_E_FAILED;
}
decltype(&QZA_Hash_Final) realFinal = nullptr;
std::int32_t failingFinal(void* context, std::uint8_t*, std::uint32_t*) {
    // The context still ends.
    return realFinal(context, nullptr, nullptr) == 0 ? QZA_E_FAILED : QZA_E_BAD_ARGUMENT;
}
std::int32_t failingEncrypt(std::uint32_t, std::uint32_t, const std::uint8_t*, std::uint32_t,
                            std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            std::uint8_t*) {
    return QZA_E_FAILED;
}

TEST_F(FileTokenInside, AFailingAlgorithmLibraryLeavesNothingBehind) {
    env_.writeFile("a.txt", "A");
    const path file = env_.root() / "a.txt";
    const struct {
        const char* name;
        std::function<void(QZAlgLibApi&)> breakIt;
        bool keyDrawn;  // after the failure
    } cases[] = {
        {"salt", [](QZAlgLibApi& q) { q.QZA_Random = failingRandom; }, false},
        {"key", [](QZAlgLibApi& q) { q.QZA_Random = secondRandomFails; }, false},
        {"digest update", [](QZAlgLibApi& q) { q.QZA_Hash_Update = failingUpdate; }, false},
        {"digest end", [](QZAlgLibApi& q) { q.QZA_Hash_Final = failingFinal; }, false},
        {"cipher", [](QZAlgLibApi& q) { q.QZA_Encrypt = failingEncrypt; }, true},
    };
    realFinal = original_.QZA_Hash_Final;
    std::array<std::uint8_t, kFileTokenKeySize> drawnKey{};
    drawnKey.fill(kDrawn);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fileTokenState().key.drawn = false;
        boundFunctions().qzAlgLib.QZA_Random = knownRandom;
        c.breakIt(boundFunctions().qzAlgLib);
        EXPECT_EQ(namedToken(file), std::to_string(kOperationFailed.number()));
        EXPECT_FALSE(fileTokenState().chosenFile);
        EXPECT_EQ(fileTokenState().key.drawn, c.keyDrawn);
        // Mended, the same call works, and the key is the one drawn.
        boundFunctions().qzAlgLib = original_;
        boundFunctions().qzAlgLib.QZA_Random = knownRandom;
        EXPECT_EQ(namedToken(file).size(), 64u);
        EXPECT_EQ(fileTokenState().key.bytes, drawnKey);
    }
    // None of this counts as a failed open.
    EXPECT_EQ(fileTokenState().failedOpens, 0u);
}

// A piece asked for is cut while the file is digested in its 1 MiB blocks:
// within one, across their ends, at the file's end and past it.
TEST_F(FileTokenInside, TheExcerptIsCutFromTheBytesDigested) {
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    std::string content(2 * kBlock + 100, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7 + (i >> 16));
    }
    env_.writeFile("big.bin", content);
    const std::string file = (env_.root() / "big.bin").string();
    const FileTokenSalt salt{};
    const Result<FileToken> token =
        buildFileToken(FileTokenMode::chosen, file, salt, FileTokenKeyName::filePath);
    ASSERT_TRUE(token);
    fileTokenState().chosenFile = makeFileTokenRecord(*token, salt, file, FileTokenMode::chosen);
    const std::uint64_t size = content.size();
    const ExcerptRange cases[] = {
        {0, 10},        {kBlock - 3, 7}, {kBlock, 5},   {kBlock - 1, kBlock + 2},
        {size - 2, 10}, {size, 4},       {size + 5, 1},
    };
    for (const ExcerptRange& c : cases) {
        SCOPED_TRACE(c.offset);
        const Result<ResolvedFile> resolved =
            resolveFileToken(token->token, FileTokenKeyName::filePath, c);
        ASSERT_TRUE(resolved);
        EXPECT_EQ(resolved->length, size);
        const std::string wanted = c.offset < size ? content.substr(c.offset, c.maxLength) : "";
        const std::string got(resolved->excerpt.begin(), resolved->excerpt.end());
        // Compared whole, not printed: a piece may be over a MiB long.
        EXPECT_EQ(got.size(), wanted.size());
        EXPECT_TRUE(got == wanted);
    }
}

TEST(SignatureFile, AShortWriteLeavesNoFileBehind) {
    test::TestEnvironment env;
    // Files may not grow past 100 bytes; the write fails instead of the process.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Result<SignatureFile> written =
        writeSignatureFile((env.root() / "a.txt").string(), std::string(1000, 'M'));
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(written.code(), kWriteFileError);
    EXPECT_FALSE(written);
    for (const auto& entry : test::fs::directory_iterator(env.root())) {
        EXPECT_NE(entry.path().extension(), ".sig") << entry.path();
    }
}

// Named after the signer, beside the signed file or, where that folder is
// missing, in the temporary one; what comes back reads the text written even
// once the path leads elsewhere.
TEST(SignatureFile, WrittenBesideTheSignedFileElseInTheTemporaryFolder) {
    test::TestEnvironment env;
    test::fs::create_directories(env.root() / "tmp");
    setSignerCn("Zhang/San");
    const std::pair<const char*, path> cases[] = {{"a.txt", env.root()},
                                                  {"missing/a.txt", env.root() / "tmp"}};
    for (const auto& [signedFile, folder] : cases) {
        Result<SignatureFile> written =
            writeSignatureFile((env.root() / signedFile).string(), "TUlJ");
        ASSERT_TRUE(written) << signedFile << ": " << written.code().number();
        const path signature(written->path);
        EXPECT_EQ(signature.parent_path(), folder);
        const std::string name = signature.filename().string();
        EXPECT_EQ(name.rfind("Zhang_San.", 0), 0u) << name;
        EXPECT_EQ(name.size(), std::string_view("Zhang_San.YYYYMMDDhhmm.123456.sig").size())
            << name;
        EXPECT_EQ(test::readText(signature), "TUlJ");
        test::fs::remove(signature);
        env.writeFile(signature.lexically_relative(env.root()), "other");
        EXPECT_EQ(written->file.readAll(), Bytes({'T', 'U', 'l', 'J'}));
    }
    for (const auto& [signedFile, text] : {std::pair<std::string, std::string_view>{"", "TUlJ"},
                                           {(env.root() / "a.txt").string(), ""}}) {
        EXPECT_EQ(writeSignatureFile(signedFile, text).code(), kNoFile) << signedFile;
    }
}

}  // namespace
}  // namespace orva::api
