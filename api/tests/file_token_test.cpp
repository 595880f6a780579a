// File tokens and file signing through the built library against the software
// key: tokens for chosen and named files and when they stop being honoured,
// the signing road into a signature file (checked with the openssl command
// line), and the signature file read back in pieces.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api_library.h"
#include "orva_result_codes.h"
#include "signing_support.h"

namespace orva::api::test {
namespace {

constexpr std::string_view kXml = "<T><File>contract.pdf</File></T>";
constexpr const char* kDisplay = "Sign contract.pdf?";
constexpr const char* kCancelling = R"({"pin": "12345678", "button": "cancel"})";

// A token text, decoded by openssl and split at its "||".
struct TokenText {
    std::string token, key, value, size;
};

// Calls `call` (until it answers false) for two seconds or 20000 rounds at most
// while another process of the user flips path, as fast as it can, between its
// file and a symbolic link to secret. The file keeps a second name, so that
// each flip back restores it whole.
void whileSwapped(const fs::path& path, const fs::path& secret, const std::function<bool()>& call) {
    const std::string name = path.string();
    const std::string keep = name + ".keep", link = name + ".link", back = name + ".back";
    fs::create_hard_link(path, keep);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop && ::symlink(secret.c_str(), link.c_str()) == 0 &&
               ::rename(link.c_str(), name.c_str()) == 0 &&
               ::link(keep.c_str(), back.c_str()) == 0 &&
               ::rename(back.c_str(), name.c_str()) == 0) {
        }
        EXPECT_TRUE(stop) << "cannot swap " << name;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; i < 20000 && std::chrono::steady_clock::now() < deadline && call(); ++i) {
    }
    stop = true;
    swapper.join();
}

bool holds(const ByteString& bytes, const ByteString& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

class FileTokens : public ::testing::Test {
  public:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }
    void TearDown() override { unsetenv("ORVA_FILE_DIALOG"); }

    fs::path file(const std::string& name, const std::string& content) {
        env_.writeFile(name, content);
        return env_.root() / name;
    }
    // The dialog answers the path, or is cancelled.
    static void dialogAnswers(const std::optional<fs::path>& path) {
        setenv("ORVA_FILE_DIALOG",
               path ? ("printf '%s\\n' '" + path->string() + "'").c_str() : "exit 1", 1);
    }

    TextResult named(const std::string& path) {
        return callForText([&](char* buffer, int* length) {
            return ORVA_API_FN(api_, QZAPI_FileToTokenExt)(path.c_str(), buffer, length);
        });
    }
    // The dialog is shown for the size query too.
    TextResult chosen() { return callForText(ORVA_API_FN(api_, QZAPI_ChooseFileExt)); }
    // The signature file's token text, or the code.
    TextResult signFile(const std::string& digits) {
        int length = 2048;
        std::string buffer(2048, '\0');
        const int code = ORVA_API_FN(api_, QZAPI_GMUsbKeySignFileExt)(
            "", "SM3", kXml.data(), static_cast<int>(kXml.size()), kDisplay, digits.c_str(),
            buffer.data(), &length);
        return {code, code == kSuccess ? std::string(buffer.c_str()) : "", length};
    }
    TextResult piece(const std::string& digits, int max, int offset) {
        return callForText([&](char* buffer, int* length) {
            return ORVA_API_FN(api_, QZAPI_GetSignFileContent)(digits.c_str(), max, offset, buffer,
                                                               length);
        });
    }

    TokenText decode(const std::string& base64) {
        env_.writeFile("token.b64", base64);
        const std::string text =
            runCommand("openssl base64 -d -A -in '" + (env_.root() / "token.b64").string() + "'")
                .output;
        static const std::regex kForm(
            "TOKEN=([0-9a-f]{64})\\|\\|(FILEPATH|FILENAME)=(.*)"
            "\\|\\|FILESIZE=([0-9]+)");
        std::smatch m;
        if (!std::regex_match(text, m, kForm)) {
            ADD_FAILURE() << "not a token text: " << text;
            return {};
        }
        return {m[1], m[2], m[3], m[4]};
    }
    std::string digits(const TextResult& result) { return decode(result.text).token; }

    std::vector<fs::path> signatureFiles(const fs::path& folder) const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() == ".sig") {
                found.push_back(entry.path());
            }
        }
        return found;
    }

    TestEnvironment env_;
    ApiLibrary api_;
};

// A token after its file or the records changed: honoured (the signature
// reaches the key, whose user cancels) or refused.
TEST_F(FileTokens, ATokenHoldsWhileItsFileAndRecordDo) {
    plugSigningKey(env_, {kSm2Zhang});
    env_.setUser(kCancelling);
    const struct {
        const char* name;
        std::function<void(FileTokens&, const fs::path&)> after;
        ApiErrorCode expected;
    } cases[] = {
        {"unchanged", [](FileTokens&, const fs::path&) {}, kUserCancel},
        {"one byte appended", [](FileTokens&, const fs::path& p) { writeFile(p, "ABC"); },
         kTokenInfoError},
        {"same size, other content", [](FileTokens&, const fs::path& p) { writeFile(p, "AC"); },
         kTokenInfoError},
        {"deleted", [](FileTokens&, const fs::path& p) { fs::remove(p); }, kOpenFileError},
        {"a cancelled dialog",
         [](FileTokens& t, const fs::path&) {
             dialogAnswers(std::nullopt);
             EXPECT_EQ(t.chosen().code, kUserCancel);
         },
         kTokenInfoError},
        {"another file chosen",
         [](FileTokens& t, const fs::path&) {
             dialogAnswers(t.file("b", "B"));
             EXPECT_EQ(t.signFile(t.digits(t.chosen())).code, kUserCancel);
         },
         kTokenInfoError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = file("a", "AB");
        const std::string token = digits(named(path.string()));
        c.after(*this, path);
        EXPECT_EQ(signFile(token).code, c.expected);
    }
    EXPECT_EQ(signFile(std::string(63, 'a')).code, kTokenInfoError);
    // Only the key's user saw anything, and nothing was signed.
    for (const DisplayShow& shown : displayLog(env_)) {
        EXPECT_EQ(shown.outcome, "cancelled");
    }

    // Paths refused without hanging or cutting.
    const fs::path fifo = env_.root() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(env_.root() / std::string(200, 'd'));
    const fs::path tooLong = file(std::string(200, 'd') + "/" + std::string(100, 'f'), "x");
    ASSERT_GT(tooLong.string().size(), 259u);
    const std::pair<fs::path, ApiErrorCode> refused[] = {
        {fifo, kOpenFileError}, {env_.root(), kOpenFileError}, {tooLong, kNoFile}};
    for (const auto& [path, code] : refused) {
        EXPECT_EQ(named(path.string()).code, code) << path;
    }
}

TEST_F(FileTokens, TheTokenTextNamesThePathAndSize) {
    plugSigningKey(env_, {kSm2Zhang});
    const fs::path path = file("\xe5\x90\x88\xe5\x90\x8c.txt", std::string(1000, 'x'));
    const TextResult result = named(path.string());
    ASSERT_EQ(result.code, kSuccess);
    const TokenText text = decode(result.text);
    EXPECT_EQ(text.key, "FILEPATH");
    EXPECT_EQ(text.value, path.string());
    EXPECT_EQ(text.size, "1000");
}

TEST_F(FileTokens, NineFailedOpensStopNamedTokensForGood) {
    const fs::path existing = file("a", "A");
    // Failures other than an open do not count: no key, an empty path.
    EXPECT_EQ(named(existing.string()).code, kNoDevice);
    plugSigningKey(env_, {kSm2Zhang});
    EXPECT_EQ(named("").code, kInvalidParameter);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(named((env_.root() / "missing").string()).code, kOpenFileError) << i;
    }
    EXPECT_EQ(named(existing.string()).code, kNoFileLocked);
    EXPECT_EQ(named(existing.string()).code, kNoFileLocked);
    // The chooser is not stopped.
    dialogAnswers(existing);
    EXPECT_EQ(chosen().code, kSuccess);
}

TEST_F(FileTokens, ACancelledChooseFileAnswersAnEmptyText) {
    dialogAnswers(std::nullopt);
    const struct {
        int room;
        const char* expected;  // the buffer afterwards
    } cancels[] = {{0, "ZZ"}, {1, ""}, {8, ""}};
    for (const auto& c : cancels) {
        std::string buffer = "ZZ";
        buffer.resize(8, 'Z');
        int length = c.room;
        EXPECT_EQ(ORVA_API_FN(api_, QZAPI_ChooseFile)(buffer.data(), &length), kSuccess);
        EXPECT_EQ(length, 1);
        EXPECT_EQ(std::string(buffer.c_str()).substr(0, 2), c.expected) << c.room;
    }
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_ChooseFile)(nullptr, nullptr), kInvalidParameter);
}

// The road: a named file signed into a signature file beside it that openssl
// verifies, and read back in pieces.
TEST_F(FileTokens, SignedFileVerifiesAndReadsBackInPieces) {
    plugSigningKey(env_, {kSm2Zhang, kSm2LiText});
    const std::string content = "%PDF-1.4 contract\n\x01\x02";
    const fs::path signedPath = file("contract.pdf", content);
    const TextResult token = named(signedPath.string());
    ASSERT_EQ(token.code, kSuccess);
    // A size query signs too: the buffer is looked at after.
    int length = 0;
    const std::string digits = decode(token.text).token;
    ASSERT_EQ(ORVA_API_FN(api_, QZAPI_GMUsbKeySignFileExt)("", "SM3", kXml.data(),
                                                           static_cast<int>(kXml.size()), kDisplay,
                                                           digits.c_str(), nullptr, &length),
              kSuccess);
    ASSERT_EQ(signatureFiles(env_.root()).size(), 1u);
    fs::remove(signatureFiles(env_.root())[0]);
    const TextResult result = signFile(digits);
    ASSERT_EQ(result.code, kSuccess);

    const std::vector<fs::path> written = signatureFiles(env_.root());
    ASSERT_EQ(written.size(), 1u);
    const std::string name = written[0].filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex("Zhang San\\.[0-9]{12}\\.[0-9]{6}\\.sig")))
        << name;
    const std::string signature = readText(written[0]);
    const TokenText text = decode(result.text);
    EXPECT_EQ(text.key, "FILENAME");
    EXPECT_EQ(text.value, name);
    EXPECT_EQ(text.size, std::to_string(signature.size()));
    EXPECT_EQ(verifySm2Signature(
                  env_, signature,
                  expectedPacket(PacketForm::binary, kXml, kDisplay, signedPath.string(), content),
                  signingCertificate(kSm2Zhang)),
              "");
    // Shown twice (the size query, then the call); each signed once.
    EXPECT_EQ(displayLog(env_).size(), 2u);

    // Pieces around the file's size S and at its end; offsets at and past it.
    const int size = static_cast<int>(signature.size());
    const struct {
        int max, offset;
        char mark;
    } pieces[] = {{size - 1, 0, '0'}, {size - 1, size - 1, '2'}, {size, 0, '2'},
                  {size + 1, 0, '2'}, {INT_MAX, 0, '2'},         {1, 0, '0'},
                  {1, 1, '1'},        {1, size - 1, '2'},        {8, size - 7, '2'}};
    for (const auto& p : pieces) {
        EXPECT_EQ(piece(text.token, p.max, p.offset).text,
                  std::string("MARK=") + p.mark + "||CONTENT=" +
                      signature.substr(static_cast<std::size_t>(p.offset),
                                       static_cast<std::size_t>(p.max)))
            << p.max << " " << p.offset;
    }
    const std::pair<int, int> refused[] = {{60, size}, {60, size + 1}, {0, 0}, {-1, 0}, {60, -1}};
    for (const auto& [max, offset] : refused) {
        EXPECT_EQ(piece(text.token, max, offset).code, kInvalidParameter) << max << " " << offset;
    }
    // A signature file changed after it was written is refused.
    writeFile(written[0], signature + "=");
    EXPECT_EQ(piece(text.token, 60, 0).code, kTokenInfoError);
}

TEST_F(FileTokens, SignatureFilesNeverReplaceAFileAndFallBackToTheTemporaryFolder) {
    plugSigningKey(env_, {kSm2Zhang});
    // Two signatures within the same minute: two files.
    const fs::path near = file("a.txt", "A");
    const std::string nearToken = digits(named(near.string()));
    ASSERT_EQ(signFile(nearToken).code, kSuccess);
    ASSERT_EQ(signFile(nearToken).code, kSuccess);
    EXPECT_EQ(signatureFiles(env_.root()).size(), 2u);

    // A folder whose signature path would pass 259 bytes: the temporary folder
    // (the test's own), and the name alone in the token.
    const std::string folder = std::string(250 - env_.root().string().size(), 'd');
    fs::create_directory(env_.root() / folder);
    const fs::path deep = file(folder + "/b", "B");
    fs::create_directory(env_.root() / "tmp");
    setenv("TMPDIR", (env_.root() / "tmp").c_str(), 1);
    const TextResult result = signFile(digits(named(deep.string())));
    ASSERT_EQ(result.code, kSuccess);
    EXPECT_TRUE(signatureFiles(env_.root() / folder).empty());
    const std::vector<fs::path> inTemp = signatureFiles(env_.root() / "tmp");
    ASSERT_EQ(inTemp.size(), 1u);
    EXPECT_EQ(decode(result.text).value, inTemp[0].filename().string());
    EXPECT_EQ(piece(decode(result.text).token, 4096, 0).text.substr(16), readText(inTemp[0]));

    // A cancel on the key: no file, and the last signature's token is gone.
    env_.setUser(kCancelling);
    EXPECT_EQ(signFile(digits(named(near.string()))).code, kUserCancel);
    EXPECT_EQ(signatureFiles(env_.root()).size(), 2u);
    EXPECT_EQ(piece(decode(result.text).token, 4096, 0).code, kTokenInfoError);
}

// A path swapped for a link to another file while the library works on it:
// each call uses the file its token was checked against, or refuses.
TEST_F(FileTokens, ASwappedPathNeverHandsOutOrSignsAnotherFile) {
    plugSigningKey(env_, {kSm2Zhang});
    const std::string genuine = "%PDF-1.4 the contract";
    const fs::path signedPath = file("doc.txt", genuine);
    // As long as the named file, shorter than the signature file: it fits the
    // room either was sized for.
    const fs::path secret = file("secret.txt", std::string(genuine.size(), 'S'));
    const std::string digits = this->digits(named(signedPath.string()));
    const TokenText signature = decode(signFile(digits).text);
    const std::string signatureText = readText(env_.root() / signature.value);
    const auto refused = [](int code) { return code == kTokenInfoError || code == kOpenFileError; };

    int pieces = 0;
    whileSwapped(env_.root() / signature.value, secret, [&] {
        const TextResult result = piece(signature.token, 4096, 0);
        pieces += result.code == kSuccess ? 1 : 0;
        EXPECT_TRUE(result.code == kSuccess ? result.text == "MARK=2||CONTENT=" + signatureText
                                            : refused(result.code))
            << result.code << " " << result.text;
        return !HasFailure();
    });
    EXPECT_GT(pieces, 0);

    std::vector<std::string> signatures;
    whileSwapped(signedPath, secret, [&] {
        const TextResult result = signFile(digits);
        if (result.code == kSuccess) {
            signatures.push_back(decode(result.text).value);
        }
        EXPECT_TRUE(result.code == kSuccess || refused(result.code)) << result.code;
        return !HasFailure() && signatures.size() < 40;
    });
    EXPECT_FALSE(signatures.empty());
    const ByteString packet =
        expectedPacket(PacketForm::binary, kXml, kDisplay, signedPath.string(), genuine);
    for (const std::string& name : signatures) {
        const auto der = softkey::fromBase64(readText(env_.root() / name));
        EXPECT_TRUE(der && holds(*der, packet)) << name;
    }
}

// A file a page names for attaching, swapped during the call: the size query
// and the signing of one call see one file, whole.
TEST_F(FileTokens, AnAttachedFileIsOneFileForTheWholeCall) {
    plugSigningKey(env_, {kSm2Zhang});
    const std::string other(3000, 'S');
    const fs::path attached = file("doc.txt", "the attachment");
    const fs::path output = env_.root() / "out.p7";
    const ByteString packets[] = {
        expectedPacket(PacketForm::binary, kXml, kDisplay, attached.string(), "the attachment"),
        expectedPacket(PacketForm::binary, kXml, kDisplay, attached.string(), other)};
    whileSwapped(attached, file("other.txt", other), [&] {
        EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMUsbKeySign)(
                      "", "SM3", kXml.data(), static_cast<int>(kXml.size()), attached.c_str(),
                      kDisplay, output.c_str(), nullptr, nullptr),
                  kSuccess);
        const auto der = softkey::fromBase64(readText(output));
        EXPECT_TRUE(der && (holds(*der, packets[0]) || holds(*der, packets[1])));
        return !HasFailure();
    });
}

}  // namespace
}  // namespace orva::api::test
