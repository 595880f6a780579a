// QZAPI_GMUsbKeySign through the built library against the software key: the
// two calls of buffer mode and the one call of output-file mode, both packet
// forms, SM2 and RSA keys, every answer of the key's user, and the window the
// call disables. Every signature is checked with the openssl command line.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "api_library.h"
#include "orva_result_codes.h"
#include "signing_support.h"
#include "win32/window.h"

namespace orva::api::test {
namespace {

constexpr std::string_view kXml = "<T><Payee>Li Si</Payee><Amount>100.00</Amount></T>";
constexpr const char* kDisplay = "Pay 100.00 to Li Si?";

struct Signed {
    int code = 0;
    std::string text;
    int sizeAnswer = 0;  // what the size query answered
    int length = 0;      // what the second call answered
};

class UsbKeySign : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error();
        window_ = CreateWindowExA(0, "page", "page", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                  nullptr);
        ASSERT_NE(window_, nullptr);
        SetActiveWindow(window_);
    }
    void TearDown() override {
        SetActiveWindow(nullptr);
        DestroyWindow(window_);
    }

    int call(const char* dn, const char* hash, std::string_view xml, const char* attach,
             const char* display, const char* p7, char* buffer, int* length) {
        return ORVA_API_FN(api_, QZAPI_GMUsbKeySign)(dn, hash, xml.data(),
                                                     static_cast<int>(xml.size()), attach, display,
                                                     p7, buffer, length);
    }

    // Buffer mode as the front ends call it: a size query, then a buffer of
    // that size.
    Signed sign(const char* dn, const char* hash, const char* display = kDisplay,
                const char* attach = "", std::string_view xml = kXml) {
        Signed result;
        result.code = call(dn, hash, xml, attach, display, "", nullptr, &result.sizeAnswer);
        if (result.code != kSuccess) {
            return result;
        }
        std::string buffer(static_cast<std::size_t>(result.sizeAnswer), 'Z');
        result.length = result.sizeAnswer;
        result.code = call(dn, hash, xml, attach, display, "", buffer.data(), &result.length);
        if (result.code == kSuccess) {
            result.text = buffer.c_str();
        }
        return result;
    }

    // Output-file mode: one call, the text goes to the file.
    int signToFile(const char* dn, const char* hash, const fs::path& p7, const char* attach,
                   const char* display = kDisplay) {
        return call(dn, hash, kXml, attach, display, p7.c_str(), nullptr, nullptr);
    }

    fs::path attachment(const std::string& name, const std::string& content) {
        env_.writeFile(name, content);
        return env_.root() / name;
    }

    std::string asn1(const std::string& base64) {
        return runCommand("openssl asn1parse -inform DER -in '" +
                          decodeSignature(env_, base64, "parse").string() + "'")
            .output;
    }

    TestEnvironment env_;
    ApiLibrary api_;
    HWND window_ = nullptr;
};

// ---- signatures that verify ----

TEST_F(UsbKeySign, Sm2BinaryFormSignsWhatTheKeyShowed) {
    plugSigningKey(env_, {kSm2Zhang});
    ASSERT_EQ(ORVA_API_FN(api_, QZAPI_SetCharset)("utf-8"), kSuccess);
    ASSERT_EQ(ORVA_API_FN(api_, QZAPI_SetWarningTips)("Check the payee"), kSuccess);
    ASSERT_EQ(ORVA_API_FN(api_, QZAPI_SetDevLanguage)("en_US"), kSuccess);

    const Signed result = sign("Zhang", "");
    ASSERT_EQ(result.code, kSuccess);
    EXPECT_EQ(result.length, static_cast<int>(result.text.size()));
    // The size is that of the widest signature; a real one may be shorter.
    EXPECT_LE(result.length, result.sizeAnswer - 1);
    EXPECT_GE(result.length, result.sizeAnswer - 1 - 8);

    const ByteString packet = expectedPacket(PacketForm::binary, kXml, kDisplay);
    EXPECT_EQ(verifySm2Signature(env_, result.text, packet, signingCertificate(kSm2Zhang)), "");
    // The check itself tells another packet or another key apart.
    ByteString other = packet;
    other.back() ^= 1;
    EXPECT_NE(verifySm2Signature(env_, result.text, other, signingCertificate(kSm2Zhang)), "");
    EXPECT_NE(verifySm2Signature(env_, result.text, packet, signingCertificate(kSm2LiText)), "");
    EXPECT_EQ(signedDataCertificate(env_, result.text), signingCertificate(kSm2Zhang));

    const std::vector<DisplayShow> shows = displayLog(env_);
    ASSERT_EQ(shows.size(), 1u);
    EXPECT_EQ(shows[0].display, kDisplay);
    EXPECT_EQ(shows[0].warning, "Check the payee");
    EXPECT_EQ(shows[0].charset, 2);
    EXPECT_EQ(shows[0].language, 2);
    EXPECT_EQ(shows[0].form, 2);
    EXPECT_EQ(shows[0].outcome, "signed");
}

TEST_F(UsbKeySign, Sm2TextFormCarriesTheAttachedFile) {
    plugSigningKey(env_, {kSm2LiText});
    const std::string content = "contract\r\n\x01\x02\xff";
    const fs::path file = attachment("contract.txt", content);
    const Signed result = sign("CN=Li Si,OU=Unit,O=Bank", "SM3", kDisplay, file.c_str());
    ASSERT_EQ(result.code, kSuccess);
    const ByteString packet =
        expectedPacket(PacketForm::text, kXml, kDisplay, file.string(), content);
    EXPECT_EQ(verifySm2Signature(env_, result.text, packet, signingCertificate(kSm2LiText)), "");
    ASSERT_EQ(displayLog(env_).size(), 1u);
    EXPECT_EQ(displayLog(env_)[0].form, 1);
}

TEST_F(UsbKeySign, RsaVerifiesForEveryHashName) {
    plugSigningKey(env_, {kRsa2048Zhang});
    const ByteString packet = expectedPacket(PacketForm::binary, kXml, kDisplay);
    const struct {
        const char* hashName;
        const char* digest;
    } cases[] = {{"SHA1", ":sha1"},     {"SHA256", ":sha256"}, {"SHA384", ":sha384"},
                 {"SHA512", ":sha512"}, {"", ":sha1"},         {nullptr, ":sha1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hashName != nullptr ? c.hashName : "(none)");
        const Signed result = sign("Zhang San", c.hashName);
        ASSERT_EQ(result.code, kSuccess);
        // An RSA signature is as long as was sized.
        EXPECT_EQ(result.length, result.sizeAnswer - 1);
        EXPECT_EQ(verifyRsaSignature(env_, result.text, packet), "");
        EXPECT_NE(asn1(result.text).find(c.digest), std::string::npos);
    }
    ByteString other = packet;
    other[20] ^= 1;
    EXPECT_NE(verifyRsaSignature(env_, sign("Zhang", "SHA256").text, other), "");
}

TEST_F(UsbKeySign, RsaTextFormWithABinaryAttachment) {
    plugSigningKey(env_, {kRsa2048WangText});
    std::string content;
    for (int i = 0; i < 256; ++i) {
        content.push_back(static_cast<char>(i));
    }
    const fs::path file = attachment("all bytes.bin", content);
    const Signed result = sign(kWangSubject, "SHA256", kDisplay, file.c_str());
    ASSERT_EQ(result.code, kSuccess);
    EXPECT_EQ(verifyRsaSignature(
                  env_, result.text,
                  expectedPacket(PacketForm::text, kXml, kDisplay, file.string(), content)),
              "");
}

TEST_F(UsbKeySign, Rsa1024DefaultsToSha1) {
    plugSigningKey(env_, {kRsa1024Zhao});
    const Signed result = sign("Zhao", "");
    ASSERT_EQ(result.code, kSuccess);
    EXPECT_EQ(
        verifyRsaSignature(env_, result.text, expectedPacket(PacketForm::binary, kXml, kDisplay)),
        "");
    EXPECT_NE(asn1(result.text).find(":sha1"), std::string::npos);
}

TEST_F(UsbKeySign, OutputFileModeWritesTheBase64OnlyInOneCall) {
    plugSigningKey(env_, {kSm2Zhang, kSm2LiText});
    const fs::path file = attachment("invoice.pdf", "%PDF-1.4 invoice");
    const fs::path p7 = env_.root() / "invoice.p7";
    ASSERT_EQ(signToFile("", "", p7, file.c_str()), kSuccess);
    const std::string text = readText(p7);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(verifySm2Signature(env_, text,
                                 expectedPacket(PacketForm::binary, kXml, kDisplay, file.string(),
                                                "%PDF-1.4 invoice"),
                                 signingCertificate(kSm2Zhang)),
              "");
    EXPECT_EQ(displayLog(env_).size(), 1u);
}

TEST_F(UsbKeySign, OutputFileModeWithRsaReplacesAnOldFile) {
    plugSigningKey(env_, {kRsa2048Zhang});
    const fs::path file = attachment("a.txt", "A");
    const fs::path p7 = env_.root() / "out.p7";
    env_.writeFile("out.p7", "an older signature that is much longer than nothing");
    ASSERT_EQ(signToFile("CN=Zhang San,OU=Unit,O=Bank", "SHA512", p7, file.c_str()), kSuccess);
    EXPECT_EQ(
        verifyRsaSignature(env_, readText(p7),
                           expectedPacket(PacketForm::binary, kXml, kDisplay, file.string(), "A")),
        "");
}

// ---- arguments ----

TEST_F(UsbKeySign, ArgumentsAreRefusedBeforeTheKeyIsOpened) {
    plugSigningKey(env_, {kSm2Zhang});
    env_.startTrace();
    const auto fn = ORVA_API_FN(api_, QZAPI_GMUsbKeySign);
    int length = 0;
    const char* x = kXml.data();
    EXPECT_EQ(fn("Zhang", "", x, 0, "", kDisplay, "", nullptr, &length), kInvalidParameter);
    EXPECT_EQ(fn("Zhang", "", x, -5, "", kDisplay, "", nullptr, &length), kInvalidParameter);
    EXPECT_EQ(fn("Zhang", "", nullptr, 10, "", kDisplay, "", nullptr, &length), kInvalidParameter);
    EXPECT_EQ(fn("Zhang", "", x, 10, "", nullptr, "", nullptr, &length), kInvalidParameter);
    EXPECT_EQ(fn("Zhang", "", x, 10, "", kDisplay, "", nullptr, nullptr), kInvalidParameter);
    EXPECT_EQ(fn("", "", x, 10, "", kDisplay, "", nullptr, &length), kInvalidParameter);
    EXPECT_EQ(fn(nullptr, "", x, 10, "", kDisplay, nullptr, nullptr, &length), kInvalidParameter);
    const std::string p7 = (env_.root() / "x.p7").string();
    EXPECT_EQ(fn("", "", x, 10, "", kDisplay, p7.c_str(), nullptr, nullptr), kInvalidParameter);
    EXPECT_EQ(fn("Zhang", "sha256", x, 10, "", kDisplay, "", nullptr, &length), kInvalidHashType);
    EXPECT_EQ(fn("Zhang", "SHA-256", x, 10, "", kDisplay, "", nullptr, &length), kInvalidHashType);
    // A signature file that cannot be created is found before the hash name.
    const std::string missing = (env_.root() / "no-such-folder" / "x.p7").string();
    EXPECT_EQ(fn("", "sha256", x, 10, "a.txt", kDisplay, missing.c_str(), nullptr, nullptr),
              kOpenFileError);
    EXPECT_EQ(fn("", "", x, 10, "a.txt", kDisplay, env_.root().c_str(), nullptr, nullptr),
              kOpenFileError);
    EXPECT_TRUE(env_.trace().empty());
    EXPECT_FALSE(fs::exists(p7));
    EXPECT_EQ(length, 0);
}

TEST_F(UsbKeySign, TheKeyMustBeThereAlone) {
    int length = 0;
    EXPECT_EQ(call("Zhang", "", kXml, "", kDisplay, "", nullptr, &length), kNoDevice);
    env_.plugKey("A");
    env_.plugKey("B");
    EXPECT_EQ(call("Zhang", "", kXml, "", kDisplay, "", nullptr, &length), kTooManyDevices);
}

// ---- choosing the signer ----

TEST_F(UsbKeySign, SignerNamesMatchByPrefixAloneOrExactlyWithAComma) {
    plugSigningKey(env_, {kSm2Zhang});
    int length = 0;
    auto query = [&](const char* dn) {
        return call(dn, "", kXml, "", kDisplay, "", nullptr, &length);
    };
    EXPECT_EQ(query("Zhang"), kSuccess);
    EXPECT_EQ(query("Zhang San"), kSuccess);
    EXPECT_EQ(query("CN=Zha"), kSuccess);
    EXPECT_EQ(query("zhang"), kNoMatchCertificate);
    EXPECT_EQ(query("Zhang San Feng"), kNoMatchCertificate);
    EXPECT_EQ(query("CN=Zhang,OU=Unit"), kNoMatchCertificate);
    EXPECT_EQ(query("CN=Zhang San,OU=Unit"), kSuccess);
    EXPECT_EQ(query("CN=Zhang San,O=Bank"), kSuccess);
    EXPECT_EQ(query("CN=Zhang San,OU=Unit,O=Bank"), kSuccess);
    EXPECT_EQ(query("CN=Zhang San,OU=Other"), kNoMatchCertificate);
    EXPECT_EQ(query("CN=Zhang San,O=Other"), kNoMatchCertificate);
    EXPECT_EQ(query("OU=Unit,O=Bank"), kNoMatchCertificate);
}

TEST_F(UsbKeySign, TheFirstMatchWhoseKeySuitsTheHashSigns) {
    // The type-4 container matches first and is never taken; the SM2 one is
    // passed over for a SHA hash.
    plugSigningKey(env_, {kSm2Type4Zhang, kSm2Zhang, kRsa2048Zhang});
    const Signed rsa = sign("Zhang", "SHA256");
    ASSERT_EQ(rsa.code, kSuccess);
    EXPECT_EQ(signedDataCertificate(env_, rsa.text), signingCertificate(kRsa2048Zhang));
    const Signed sm2 = sign("Zhang", "");
    ASSERT_EQ(sm2.code, kSuccess);
    EXPECT_EQ(signedDataCertificate(env_, sm2.text), signingCertificate(kSm2Zhang));
}

TEST_F(UsbKeySign, AHashNoMatchingKeyCanUse) {
    plugSigningKey(env_, {kRsa2048Zhang, kSm2Type4Zhang});
    int length = 0;
    // Buffer mode passes over keys that do not suit the hash...
    EXPECT_EQ(call("Zhang", "SM3", kXml, "", kDisplay, "", nullptr, &length), kNoMatchCertificate);
    // ... output-file mode takes the one container and refuses the hash.
    const fs::path file = attachment("a.txt", "A");
    EXPECT_EQ(signToFile("", "SM3", env_.root() / "x.p7", file.c_str()), kInvalidHashType);
    EXPECT_FALSE(fs::exists(env_.root() / "x.p7"));
}

TEST_F(UsbKeySign, OutputFileModeWantsExactlyOneBinaryFormContainer) {
    const fs::path file = attachment("a.txt", "A");
    const fs::path p7 = env_.root() / "x.p7";
    {
        plugSigningKey(env_, {kSm2Zhang, kRsa1024Zhao});
        EXPECT_EQ(signToFile("", "", p7, file.c_str()), kTooManyCertificates);
        EXPECT_EQ(signToFile("Zhao", "", p7, file.c_str()), kTooManyCertificates);
        env_.store().erase("SN1");
    }
    {
        plugSigningKey(env_, {kSm2LiText, kRsa2048WangText, kSm2Type4Zhang});
        EXPECT_EQ(signToFile("", "", p7, file.c_str()), kNoMatchCertificate);
        EXPECT_EQ(signToFile("Li", "", p7, file.c_str()), kNoMatchCertificate);
        env_.store().erase("SN1");
    }
    EXPECT_TRUE(displayLog(env_).empty());
    EXPECT_FALSE(fs::exists(p7));
}

// ---- the text on the key's display ----

TEST_F(UsbKeySign, AnEmptyBlankOrLongDisplayTextIsRefusedAfterThePrepareStep) {
    plugSigningKey(env_, {kSm2Zhang});
    const std::string tooLong(901, 'x');
    const struct {
        const char* display;
        ApiErrorCode code;
    } cases[] = {{"", kKeyShowNull},
                 {"   ", kKeyShowNull},
                 {" \r\n\r\n ", kKeyShowNull},
                 {tooLong.c_str(), kKeyShowTooLong}};
    for (const auto& c : cases) {
        env_.startTrace();
        int length = 0;
        EXPECT_EQ(call("Zhang", "", kXml, "", c.display, "", nullptr, &length), c.code);
        EXPECT_EQ(env_.traced("QZAsymSign"), 1u);
        EXPECT_EQ(env_.traced("QZClearPINCache"), 1u);
        EXPECT_EQ(env_.traced("NDClose"), 1u);
        env_.writeFile("softkey/trace.log", "");
    }
    const std::string longest(900, 'x');
    EXPECT_EQ(sign("Zhang", "", longest.c_str()).code, kSuccess);
    EXPECT_EQ(displayLog(env_).size(), 1u);
}

TEST_F(UsbKeySign, AnAttachmentThatCannotBeReadIsMinus329) {
    plugSigningKey(env_, {kSm2Zhang});
    int length = 0;
    const std::string missing = (env_.root() / "missing.txt").string();
    EXPECT_EQ(call("Zhang", "", kXml, missing.c_str(), kDisplay, "", nullptr, &length),
              kOpenFileError);
    EXPECT_EQ(call("Zhang", "", kXml, env_.root().c_str(), kDisplay, "", nullptr, &length),
              kOpenFileError);
    const fs::path fifo = env_.root() / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(call("Zhang", "", kXml, fifo.c_str(), kDisplay, "", nullptr, &length),
              kOpenFileError);
}

// ---- the size query and the caller's buffer ----

TEST_F(UsbKeySign, TheSizeQueryPreparesButNeverShows) {
    plugSigningKey(env_, {kRsa2048Zhang});
    env_.startTrace();
    int length = -7;
    ASSERT_EQ(call("Zhang", "SHA256", kXml, "", kDisplay, "", nullptr, &length), kSuccess);
    EXPECT_GT(length, 1000);
    EXPECT_EQ(env_.traced("QZAsymSign"), 1u);
    EXPECT_TRUE(displayLog(env_).empty());
    // The trace ends with the PIN cache cleared and the key closed.
    const std::vector<std::string> trace = env_.trace();
    ASSERT_GE(trace.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(trace.end() - 4, trace.end()),
              (std::vector<std::string>{"QZClearPINCache", "NDEndTransaction", "NDClose",
                                        "NDReleaseContext"}));
}

TEST_F(UsbKeySign, AShortBufferGetsTheSizeAndTheKeyDoesNotSign) {
    plugSigningKey(env_, {kRsa2048Zhang});
    int size = 0;
    ASSERT_EQ(call("Zhang", "SHA256", kXml, "", kDisplay, "", nullptr, &size), kSuccess);
    std::string buffer(static_cast<std::size_t>(size) + 10, 'Z');
    for (const int capacity : {size - 1, 0, -1, -2147483647 - 1}) {
        int length = capacity;
        EXPECT_EQ(call("Zhang", "SHA256", kXml, "", kDisplay, "", buffer.data(), &length),
                  kBufferTooSmall);
        EXPECT_EQ(length, size);
    }
    EXPECT_EQ(buffer, std::string(buffer.size(), 'Z'));
    EXPECT_TRUE(displayLog(env_).empty());
    // A larger buffer gets the text and its NUL, nothing beyond.
    int length = size + 10;
    ASSERT_EQ(call("Zhang", "SHA256", kXml, "", kDisplay, "", buffer.data(), &length), kSuccess);
    EXPECT_EQ(length, size - 1);
    EXPECT_EQ(buffer[static_cast<std::size_t>(size - 1)], '\0');
    EXPECT_EQ(buffer[static_cast<std::size_t>(size)], 'Z');
}

// ---- the person at the key ----

TEST_F(UsbKeySign, EveryAnswerOfTheKeyLeavesTheBufferAndEnablesTheWindow) {
    plugSigningKey(env_, {kSm2Zhang});
    const struct {
        const char* user;
        ApiErrorCode code;
        const char* outcome;
    } cases[] = {
        {R"({"pin": "12345678", "button": "cancel"})", kUserCancel, "cancelled"},
        {R"({"pin": "12345678", "button": "timeout"})", kOperationTimeout, "timeout"},
        {R"({"pin": "12345678", "button": "broken"})", kButtonBreakdown, "broken"},
        {R"({"pin": "87654321"})", kSignFailed, "wrongPin"},
        {R"({})", kUserCancel, "cancelled"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        env_.setUser(c.user);
        int size = 0;
        ASSERT_EQ(call("Zhang", "", kXml, "", kDisplay, "", nullptr, &size), kSuccess);
        env_.startTrace();
        env_.writeFile("softkey/trace.log", "");
        std::string buffer(static_cast<std::size_t>(size), 'Z');
        int length = size;
        EXPECT_EQ(call("Zhang", "", kXml, "", kDisplay, "", buffer.data(), &length), c.code);
        EXPECT_EQ(length, size);
        EXPECT_EQ(buffer, std::string(buffer.size(), 'Z'));
        EXPECT_EQ(displayLog(env_).back().outcome, c.outcome);
        EXPECT_TRUE(IsWindowEnabled(window_));
        EXPECT_EQ(env_.traced("QZClearPINCache"), 1u);
        EXPECT_EQ(env_.traced("NDClose"), 1u);
    }
}

TEST_F(UsbKeySign, ALockedPinIsMinus221) {
    plugSigningKey(env_, {kRsa2048Zhang});
    env_.changeKey("SN1", [](softkey::Token& t) { t.pin.triesLeft = 0; });
    EXPECT_EQ(sign("Zhang", "SHA1").code, kPinLocked);
    EXPECT_EQ(displayLog(env_).back().outcome, "pinLocked");
    EXPECT_TRUE(IsWindowEnabled(window_));
}

TEST_F(UsbKeySign, APrepareStepTheKeyRefusesIsMinus334) {
    plugSigningKey(env_, {kSm2Zhang});
    env_.setFaults(R"({"fail": {"QZAsymSign": "0x6F00"}})");
    int length = 0;
    EXPECT_EQ(call("Zhang", "", kXml, "", kDisplay, "", nullptr, &length), kNotTradeData);
}

TEST_F(UsbKeySign, TheForegroundWindowStandsInForAnActiveOne) {
    plugSigningKey(env_, {kSm2Zhang});
    SetActiveWindow(nullptr);
    ASSERT_TRUE(SetForegroundWindow(window_));
    EXPECT_EQ(sign("Zhang", "").code, kSuccess);
    EXPECT_TRUE(IsWindowEnabled(window_));
    // Without either the signature still works.
    DestroyWindow(window_);
    window_ = nullptr;
    EXPECT_EQ(sign("Zhang", "").code, kSuccess);
}

// ---- the signature file is never emptied by a failure ----

TEST_F(UsbKeySign, AFailedSignatureLeavesTheFileAsItWas) {
    plugSigningKey(env_, {kSm2Zhang});
    const fs::path file = attachment("a.txt", "A");
    const fs::path existing = env_.root() / "kept.p7";
    const fs::path fresh = env_.root() / "fresh.p7";
    env_.writeFile("kept.p7", "the signature of yesterday");
    env_.setUser(R"({"pin": "12345678", "button": "cancel"})");
    EXPECT_EQ(signToFile("", "", existing, file.c_str()), kUserCancel);
    EXPECT_EQ(signToFile("", "", fresh, file.c_str()), kUserCancel);
    EXPECT_EQ(signToFile("Nobody", "", existing, file.c_str()), kNoMatchCertificate);
    EXPECT_EQ(readText(existing), "the signature of yesterday");
    EXPECT_FALSE(fs::exists(fresh));
    // No temporary file is left beside them.
    for (const auto& entry : fs::directory_iterator(env_.root())) {
        EXPECT_EQ(entry.path().filename().string().find(".p7."), std::string::npos) << entry.path();
    }
}

}  // namespace
}  // namespace orva::api::test
