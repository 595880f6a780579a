// The pieces of transaction signing seen from inside the library: hash names,
// signer-name matching, the signer's common name, the signature file that is
// replaced only when complete, and the caller's window while the key waits.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "attached_file.h"
#include "bound_function_table.h"
#include "distinguished_name.h"
#include "hash_ids.h"
#include "hash_name.h"
#include "library_lifecycle.h"
#include "orva_api.h"
#include "output_file.h"
#include "signer_cn.h"
#include "signing_support.h"
#include "time_stamp_name.h"
#include "usb_key_sign.h"
#include "win32/window.h"

namespace orva::api {
namespace {

using test::fs::path;

// What a name match answers: its code, and the common name only a match carries.
using Matched = std::pair<ApiErrorCode, std::optional<std::string>>;

Matched matched(std::string_view requested, std::string_view subject) {
    Result<std::string> commonName = matchDistinguishedName(requested, subject);
    if (!commonName) {
        return {commonName.code(), std::nullopt};
    }
    return {kSuccess, std::move(*commonName)};
}

TEST(HashName, OnlyTheExactNamesAreKnown) {
    const std::pair<const char*, int> known[] = {{"SHA1", kHashIdSha1},
                                                 {"SHA256", kHashIdSha256},
                                                 {"SHA384", kHashIdSha384},
                                                 {"SHA512", kHashIdSha512},
                                                 {"SM3", kHashIdSm3}};
    for (const auto& [name, expected] : known) {
        EXPECT_EQ(hashNameToId(name), expected) << name;
    }
    for (const char* name : {"sha1", "Sm3", "SHA-1", "SHA1 ", "MD5", ""}) {
        EXPECT_EQ(hashNameToId(name), std::nullopt) << name;
    }
    EXPECT_EQ(hashNameToId(std::string_view("SM3\0", 4)), std::nullopt);
}

// Names are items only where an item starts; the same letters inside a value
// are part of that value. Only a match carries a common name.
TEST(DistinguishedName, MatchesWholeItemsAndGivesTheCommonName) {
    constexpr const char* kForged = "O=x\\,CN=Zhang San,CN=Wang Wu";
    const struct {
        const char* requested;
        const char* subject;
        ApiErrorCode code;
        const char* commonName;
    } cases[] = {
        {"Zh", "CN=Zhang San,OU=Unit,O=Bank", kSuccess, "Zhang San"},
        {"CN=Li,O=Bank", "OU=Unit,CN=Li,O=Bank", kSuccess, "Li"},
        // A CN at the end of the subject runs to its end.
        {"Wang", "O=Bank,CN=Wang Wu", kSuccess, "Wang Wu"},
        // A comma without a CN is a malformed request.
        {"OU=Unit,O=Bank", "CN=A,OU=Unit,O=Bank", kInvalidParameter, ""},
        // A request longer than the CN, an empty one, a subject without a CN.
        {"Zhang San 2", "CN=Zhang San", kNoMatchCertificate, ""},
        {"CN=", "CN=Zhang San", kNoMatchCertificate, ""},
        {"Zhang", "OU=Zhang", kNoMatchCertificate, ""},
        // With a comma the OU and O given must be the subject's, whole.
        {"CN=A,OU=Uni", "CN=A,OU=Unit", kNoMatchCertificate, ""},
        {"CN=A,O=Ban", "CN=A,O=Bank", kNoMatchCertificate, ""},
        {"CN=A,O=Bank", "CN=A", kNoMatchCertificate, ""},
        {"Evil", "E=aCN=Evil,CN=Real,O=Bank", kNoMatchCertificate, ""},
        {"Real", "E=aCN=Evil,CN=Real,O=Bank", kSuccess, "Real"},
        {"CN=Real,O=Bank", "E=aCN=Evil,CN=Real,O=Bank", kSuccess, "Real"},
        {"CN=ACMEO=x,O=x", "CN=ACMEO=x,O=Bank", kNoMatchCertificate, ""},
        {"CN=ACMEO=x,O=Bank", "CN=ACMEO=x,O=Bank", kSuccess, "ACMEO=x"},
        {"CN=A,O=Bank", "CN=A,XO=Bad,O=Bank", kSuccess, "A"},
        {"CN=A,OU=Unit", "CN=A,XOU=Unit", kNoMatchCertificate, ""},
        {"aCN=A,O=Bank", "CN=A,O=Bank", kInvalidParameter, ""},
        {"O=Bank,CN=A", "CN=A,O=Bank", kSuccess, "A"},
        // Escaped commas never forge an item.
        {"CN=Zhang San,O=x", kForged, kNoMatchCertificate, ""},
        {"Zhang", kForged, kNoMatchCertificate, ""},
        {"CN=Wang Wu,O=x", kForged, kNoMatchCertificate, ""},
        {"CN=Wang Wu", kForged, kSuccess, "Wang Wu"},
        {"Wang", kForged, kSuccess, "Wang Wu"},
        // The subject as the key lists it, and the same name written another way.
        {kForged, kForged, kSuccess, "Wang Wu"},
        {"CN=Wang Wu,O=x\\2CCN=Zhang San", kForged, kSuccess, "Wang Wu"},
        // A name alone may carry an escaped comma; an unescaped one needs a CN.
        {"Li\\, S", "CN=Li\\, Si,O=Bank", kSuccess, "Li, Si"},
        {"CN=Li\\, Si,O=Bank", "CN=Li\\, Si,O=Bank", kSuccess, "Li, Si"},
        {"Li, S", "CN=Li\\, Si,O=Bank", kInvalidParameter, ""},
        {"CN=Li,O=Bank", "CN=Li\\, Si,O=Bank", kNoMatchCertificate, ""},
        // Names as pages wrote them before escapes still match.
        {"CN=A\\B,O=x", "CN=A\\\\B,O=x", kSuccess, "A\\B"},
        {"CN=a+b,O=x;y", "CN=a\\+b,O=x\\;y", kSuccess, "a+b"},
        {"CN= a", "CN=\\ a\\ ", kSuccess, " a "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.requested) + " in " + c.subject);
        const Matched match = matched(c.requested, c.subject);
        EXPECT_EQ(match.first, c.code);
        EXPECT_EQ(match.second.value_or(""), c.commonName);
        EXPECT_EQ(match.second.has_value(), c.code == kSuccess);
    }
}

TEST(SignerCn, IsBoundedAndNeverSplitsACharacter) {
    // 254 bytes and a three-byte character: the character does not fit.
    const std::string han = "\xE4\xB8\xAD";
    const std::pair<std::string, std::string> cases[] = {
        {std::string(300, 'a'), std::string(255, 'a')},
        {std::string(254, 'a') + han, std::string(254, 'a')},
        {std::string(252, 'a') + han + "b", std::string(252, 'a') + han},
        {"Zhang San", "Zhang San"},
        {"", ""},
    };
    for (const auto& [given, kept] : cases) {
        SCOPED_TRACE(given);
        setSignerCn(given);
        EXPECT_EQ(signerCn(), kept);
    }
}

TEST(SignerCn, FileNamesStayInTheirFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"Zhang San", "Zhang San"},
        {"../../etc/passwd", "_._.._etc_passwd"},
        {"..", "_."},
        {"C:\\a<b>\"c|d?e*", "C__a_b__c_d_e_"},
        {std::string("a\nb\x7f"
                     "c\x01",
                     6),
         "a_b_c_"},
        {"\xE5\xBC\xA0\xE4\xB8\x89", "\xE5\xBC\xA0\xE4\xB8\x89"},
        {"", "unknown"},
    };
    for (const auto& [name, safe] : cases) {
        EXPECT_EQ(fileNameSafe(name), safe) << name;
    }
}

TEST(TimeStampName, LocalTimeAndFourDigitsLeavingRandAlone) {
    srand(7);
    const int expected = rand();
    srand(7);
    const std::time_t before = std::time(nullptr);
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        const auto name = makeTimeStampName();
        ASSERT_TRUE(name);
        ASSERT_EQ(name->size(), 18u);
        EXPECT_EQ(name->find_first_not_of("0123456789"), std::string::npos) << *name;
        names.push_back(*name);
    }
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(rand(), expected);
    // The stamp is local time between the two readings.
    std::array<char, 16> first{};
    std::array<char, 16> last{};
    std::tm tm{};
    std::strftime(first.data(), first.size(), "%Y%m%d%H%M%S", localtime_r(&before, &tm));
    std::strftime(last.data(), last.size(), "%Y%m%d%H%M%S", localtime_r(&after, &tm));
    EXPECT_GE(names.front().substr(0, 14), std::string(first.data()));
    EXPECT_LE(names.back().substr(0, 14), std::string(last.data()));
    // Twenty draws of four digits do not all agree.
    std::sort(names.begin(), names.end());
    EXPECT_GT(std::unique(names.begin(), names.end()) - names.begin(), 1);
}

class OutputFileTest : public ::testing::Test {
  protected:
    path file(const char* name) const { return env_.root() / name; }
    test::TestEnvironment env_;
};

TEST_F(OutputFileTest, AMissingFileExistsOnlyWhileTheSignatureIsPending) {
    const path p = file("new.p7");
    {
        OutputFile out;
        ASSERT_EQ(out.reserve(p.string()), kSuccess);
        EXPECT_TRUE(test::fs::exists(p));
    }
    EXPECT_FALSE(test::fs::exists(p));
    {
        OutputFile out;
        ASSERT_EQ(out.reserve(p.string()), kSuccess);
        ASSERT_EQ(out.write("TUlJ"), kSuccess);
    }
    EXPECT_EQ(test::readText(p), "TUlJ");
}

TEST_F(OutputFileTest, AnExistingFileIsReplacedWholeWithItsPermissions) {
    const path p = file("old.p7");
    env_.writeFile("old.p7", "a much longer old text");
    ASSERT_EQ(chmod(p.c_str(), 0640), 0);
    OutputFile out;
    ASSERT_EQ(out.reserve(p.string()), kSuccess);
    EXPECT_EQ(test::readText(p), "a much longer old text");
    EXPECT_EQ(out.write(""), kInvalidParameter);
    ASSERT_EQ(out.write("TUlJ"), kSuccess);
    EXPECT_EQ(test::readText(p), "TUlJ");
    struct stat status {};
    ASSERT_EQ(stat(p.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(OutputFileTest, ALinkKeepsLeadingToTheReplacedFile) {
    env_.writeFile("target.p7", "old");
    ASSERT_EQ(symlink(file("target.p7").c_str(), file("link.p7").c_str()), 0);
    OutputFile out;
    ASSERT_EQ(out.reserve(file("link.p7").string()), kSuccess);
    ASSERT_EQ(out.write("TUlJ"), kSuccess);
    EXPECT_TRUE(test::fs::is_symlink(file("link.p7")));
    EXPECT_EQ(test::readText(file("target.p7")), "TUlJ");
}

TEST_F(OutputFileTest, OnlyARegularFileInAnExistingFolderIsTaken) {
    ASSERT_EQ(mkfifo(file("fifo").c_str(), 0600), 0);
    for (const std::string& name :
         {file("fifo").string(), env_.root().string(), file("none/x.p7").string(),
          std::string("/dev/null"), std::string()}) {
        OutputFile out;
        EXPECT_EQ(out.reserve(name), kOpenFileError) << name;
    }
    OutputFile unreserved;
    EXPECT_EQ(unreserved.write("TUlJ"), kInvalidParameter);
}

// ---- the window while the key waits for its button ----

// What the caller's window looked like at each QZAsymSign call.
struct SignCall {
    std::uint32_t op;
    BOOL windowEnabled;
};
std::vector<SignCall> signCalls;
HWND watchedWindow = nullptr;
decltype(&QZAsymSign) keySign = nullptr;

std::uint32_t watchingKeySign(void* device, std::uint32_t hashId, std::uint32_t keyAlgId,
                              std::uint32_t form, std::uint32_t keyWord, std::int32_t language,
                              std::int32_t charset, const char* tips, std::uint32_t tipsLen,
                              const char* keyMsg, std::uint32_t keyMsgLen, std::uint32_t op,
                              const std::uint8_t* data, std::uint32_t dataLen,
                              std::uint8_t* signature, std::uint32_t* signatureLen) {
    signCalls.push_back({op, IsWindowEnabled(watchedWindow)});
    return keySign(device, hashId, keyAlgId, form, keyWord, language, charset, tips, tipsLen,
                   keyMsg, keyMsgLen, op, data, dataLen, signature, signatureLen);
}

class WindowDuringTheWait : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(processAttach(GetModuleHandleA(nullptr)), TRUE);
        keySign = boundFunctions().dravik.QZAsymSign;
        boundFunctions().dravik.QZAsymSign = watchingKeySign;
        signCalls.clear();
        watchedWindow =
            CreateWindowExA(0, "page", "page", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetActiveWindow(watchedWindow);
        test::plugSigningKey(env_, {test::kSm2Zhang});
    }
    void TearDown() override {
        SetActiveWindow(nullptr);
        DestroyWindow(watchedWindow);
        processDetach();
    }

    int sign(char* buffer, int* length) {
        return QZAPI_GMUsbKeySign("Zhang", "", kXml.data(), static_cast<int>(kXml.size()), "",
                                  "Pay 1?", "", buffer, length);
    }

    // File mode over a.txt in the test's folder, with the caller's tail.
    ApiErrorCode signFile(const FileModeTail& tail, AttachedFile* checked = nullptr) {
        const std::string file = attached().string();
        return runUsbKeySign({"", nullptr, kXml.data(), static_cast<int>(kXml.size()), file.c_str(),
                              "Sign a.txt?", nullptr, nullptr, nullptr},
                             &tail, checked);
    }
    path attached() const { return env_.root() / "a.txt"; }
    // The signature's verification failure, empty if it signed a.txt holding "A".
    std::string verifyFileSignature(const std::string& signature) {
        return test::verifySm2Signature(
            env_, signature,
            test::expectedPacket(test::PacketForm::binary, kXml, "Sign a.txt?", attached().string(),
                                 "A"),
            test::signingCertificate(test::kSm2Zhang));
    }

    static constexpr std::string_view kXml = "<T>1</T>";
    test::TestEnvironment env_;
};

TEST_F(WindowDuringTheWait, DisabledOnlyWhileTheKeyShowsTheText) {
    // Enabled again whether the user confirms or cancels.
    const std::pair<const char*, ApiErrorCode> cases[] = {{"confirm", kSuccess},
                                                          {"cancel", kUserCancel}};
    for (const auto& [button, expected] : cases) {
        SCOPED_TRACE(button);
        env_.setUser(std::string(R"({"pin": "12345678", "button": ")") + button + "\"}");
        signCalls.clear();
        int length = 0;
        ASSERT_EQ(sign(nullptr, &length), kSuccess);
        std::string buffer(static_cast<std::size_t>(length), '\0');
        EXPECT_EQ(sign(buffer.data(), &length), expected);
        ASSERT_EQ(signCalls.size(), 3u);
        EXPECT_EQ(signCalls[0].op, DRV_SIGN_PREPARE);
        EXPECT_TRUE(signCalls[0].windowEnabled);
        EXPECT_EQ(signCalls[1].op, DRV_SIGN_PREPARE);
        EXPECT_TRUE(signCalls[1].windowEnabled);
        EXPECT_EQ(signCalls[2].op, DRV_SIGN_CONFIRM);
        EXPECT_FALSE(signCalls[2].windowEnabled);
        EXPECT_TRUE(IsWindowEnabled(watchedWindow));
        EXPECT_EQ(signerCn(), "Zhang San");
    }
}

// File mode hands the text to its tail while the key is still open, after
// signing once, and needs neither buffer nor length.
TEST_F(WindowDuringTheWait, FileModeRunsItsTailInsideTheSession) {
    env_.writeFile("a.txt", "A");
    env_.startTrace();
    std::string received;
    std::size_t closesBefore = 99;
    const FileModeTail tail = [&](std::string_view text) {
        received = text;
        closesBefore = env_.traced("NDClose") + env_.traced("QZClearPINCache");
        return kSuccess;
    };
    ASSERT_EQ(signFile(tail), kSuccess);
    EXPECT_EQ(closesBefore, 0u);
    EXPECT_EQ(env_.traced("NDClose"), 1u);
    ASSERT_EQ(signCalls.size(), 3u);
    EXPECT_EQ(signCalls[2].op, DRV_SIGN_CONFIRM);
    EXPECT_EQ(verifyFileSignature(received), "");
    // The tail's failure is the call's.
    EXPECT_EQ(signFile([](std::string_view) { return kNoFile; }), kNoFile);
}

// A file checked before the call is signed as it was checked: another file
// put in its place is not read, and a write to it stops the call before the
// key is asked to sign.
TEST_F(WindowDuringTheWait, ACheckedFileIsSignedAsCheckedOrNotAtAll) {
    // Another file renamed into its path, or the file itself written to.
    const std::pair<bool, ApiErrorCode> cases[] = {{false, kSuccess}, {true, kTokenInfoError}};
    for (const auto& [inPlace, expected] : cases) {
        SCOPED_TRACE(inPlace);
        env_.writeFile("a.txt", "A");
        // Written long ago: any write now moves its time.
        test::fs::last_write_time(attached(), test::fs::file_time_type{});
        std::optional<RegularFile> opened = RegularFile::open(attached().string());
        ASSERT_TRUE(opened);
        AttachedFile checked(attached().string(), std::move(*opened));
        env_.writeFile(inPlace ? "a.txt" : "a.new", "B");
        if (!inPlace) {
            test::fs::rename(env_.root() / "a.new", attached());
        }
        signCalls.clear();
        std::string received;
        const FileModeTail tail = [&](std::string_view text) {
            received = text;
            return kSuccess;
        };
        ASSERT_EQ(signFile(tail, &checked), expected);
        EXPECT_EQ(signCalls.back().op, expected == kSuccess ? DRV_SIGN_CONFIRM : DRV_SIGN_PREPARE);
        EXPECT_EQ(received.empty() ? "" : verifyFileSignature(received), "");
    }
}

}  // namespace
}  // namespace orva::api
