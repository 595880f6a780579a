// A page's calls through the plug-in over the real token API library and a
// software key, registered by orva-setup; signatures checked with openssl.

#include <algorithm>

#include "pkcs7_check.h"
#include "plugin_test_support.h"

namespace orva::npapi_plugin::test {
namespace {

using orva::testing::CommandResult;
using orva::testing::shellQuote;
using S = std::string;

const S kSn = "SK0000000001";
const S kZhangSan = "CN=Zhang San,OU=Unit,O=Bank";
const S kXml = "<T>\xe4\xb8\xad\xe6\x96\x87</T>";  // "<T>中文</T>" in UTF-8
const S kXmlGb = "<T>\xd6\xd0\xce\xc4</T>";        // and in GB18030
const S kDisplay = "\xe4\xbb\x98\xe6\xac\xbe 100.00 \xe5\x85\x83";

class SoftkeyPluginTest : public ::testing::Test {
  protected:
    SoftkeyPluginTest() {
        folder_.setEnv("ORVA_REGISTRY", (folder_.root() / "registry.reg").string());
        folder_.setEnv("ORVA_SOFTKEY_DIR", (folder_.root() / "softkey").string());
        folder_.setEnv("TMPDIR", folder_.root().string());
        folder_.setEnv("ORVA_ACP", "65001");
        expectRun("orva-setup register");
        expectRun("softkey create --sn " + kSn);
        expectRun("softkey user --pin 12345678");
    }
    void provisionSigner() {
        expectRun("softkey provision --sn " + kSn + " --alg sm2 --type 3 --subject " +
                  shellQuote(kZhangSan));
    }
    ~SoftkeyPluginTest() override {
        session_.reset();
        EXPECT_TRUE(browser_.balanced());
    }

    // A shell command in the test's folder with the build's programs first.
    CommandResult run(const S& command) const {
        return orva::testing::runCommand("cd " + shellQuote(folder_.root().string()) + " && PATH=" +
                                         shellQuote(frontend::test::binFolder().string()) +
                                         ":\"$PATH\" " + command);
    }
    S expectRun(const S& command) const {
        const CommandResult result = run(command);
        EXPECT_EQ(result.status, 0) << command << "\n" << result.output;
        return result.output;
    }
    ScriptValue call(std::string_view method, const std::vector<ScriptValue>& args = {}) {
        if (!session_) {
            session_ = std::make_unique<PluginSession>(browser_, pluginPath());
        }
        return session_->invoke(method, args).value;
    }
    S text(std::string_view method, const std::vector<ScriptValue>& args = {}) {
        const ScriptValue value = call(method, args);
        return std::holds_alternative<S>(value) ? std::get<S>(value)
                                                : "<" + npapi_host::printable(value) + ">";
    }
    S verified(const S& p7) {
        return frontend::test::verifySm2Pkcs7([this](const S& command) { return run(command); },
                                              p7);
    }

    TestFolder folder_;
    StandInBrowser browser_;
    std::unique_ptr<PluginSession> session_;
};

TEST_F(SoftkeyPluginTest, APageSignsATransactionAndAsksForARequest) {
    provisionSigner();
    EXPECT_EQ(text("GetMediaID"), kSn);
    // Nothing is kept for the page to read back.
    EXPECT_EQ(text("GetStrValue1"), "");
    EXPECT_EQ(call("GetLongValue"), ScriptValue(int32_t{0}));
    EXPECT_EQ(text("GetCSPInfo"), "Korvane CSP ORVA V1.0||1.0.0.0");
    EXPECT_EQ(text("GetCharsetList"), "GBK||UTF-8||GB18030");

    // GBK at start: the key signs the GB18030 text with its NUL, the length
    // byte in front of it counting the NUL too.
    const std::vector<ScriptValue> sign = {kZhangSan, S("SM3"), kXml, kDisplay, S()};
    S p7 = text("GMUsbKeySign", sign);
    ASSERT_GT(p7.size(), 100u) << p7;
    EXPECT_EQ(verified(p7), "");
    EXPECT_NE(folder_.read("content.bin").find(S(1, char(kXmlGb.size() + 1)) + kXmlGb + S(1, '\0')),
              S::npos);

    // UTF-8: the page's bytes, as they are.
    EXPECT_EQ(call("SetCharset", {S("UTF-8")}), ScriptValue(int32_t{0}));
    p7 = text("GMUsbKeySign", sign);
    EXPECT_EQ(verified(p7), "");
    EXPECT_NE(folder_.read("content.bin").find(S(1, char(kXml.size())) + kXml + "#"), S::npos);

    // The person at the key cancels.
    expectRun("softkey user --button cancel");
    EXPECT_EQ(call("GMUsbKeySign", sign), ScriptValue(int32_t{-100}));
    expectRun("softkey user --button confirm --pin 12345678");

    const S request =
        text("GMCreatePKCS10", {S("DN(CN=Zhang San,OU=Unit,O=Bank)HASH(SM3)KEYTYPE(SM2256)"
                                  "CERTTYPE(01)")});
    ASSERT_GT(request.size(), 100u) << request;
    EXPECT_EQ(frontend::test::verifyPkcs10([this](const S& command) { return run(command); },
                                           request, true),
              "");
}

// A token's digits, from its base64 text "TOKEN=<64 hex>||...".
S tokenDigits(const S& decoded) {
    return decoded.rfind("TOKEN=", 0) == 0 ? decoded.substr(6, 64) : "<" + decoded + ">";
}

TEST_F(SoftkeyPluginTest, APageSignsFilesAndReadsASignatureInPieces) {
    provisionSigner();
    const S contract = (folder_.root() / "contract.txt").string();
    folder_.write("contract.txt", "contract body");
    // The packet carries the file's bytes in base64.
    const S contractBase64 = "Y29udHJhY3QgYm9keQ==";
    // Into a signature file the page names: base64 PKCS#7 over a packet with the file's bytes.
    EXPECT_EQ(call("GMUsbKeySignFile", {kZhangSan, S("SM3"), kXml, kDisplay, contract,
                                        (folder_.root() / "contract.p7").string()}),
              ScriptValue(int32_t{0}));
    EXPECT_EQ(verified(folder_.read("contract.p7")), "");
    EXPECT_NE(folder_.read("content.bin").find(contractBase64), S::npos);

    // Through tokens: the file's, then the signature file's, read back in pieces.
    const auto decoded = [&](const S& base64) {
        folder_.write("token.b64", base64);
        return expectRun("openssl base64 -d -A -in token.b64");
    };
    const S fileToken = tokenDigits(decoded(text("NSFileToTokenExt", {contract})));
    const S signatureText =
        decoded(text("GMUsbKeySignFileExt", {kZhangSan, S("SM3"), kXml, kDisplay, fileToken}));
    const S signatureToken = tokenDigits(signatureText);
    const S name = signatureText.substr(signatureText.find("FILENAME=") + 9);
    const S signature = folder_.read(name.substr(0, name.find("||")));
    ASSERT_GT(signature.size(), 200u) << signatureText;
    S joined;
    for (int offset = 0;; offset += 100) {
        const S piece = text("GetSignFileContent", {signatureToken, S("100"), double(offset)});
        ASSERT_EQ(piece.rfind("MARK=", 0), 0u) << piece;
        joined += piece.substr(piece.find("||CONTENT=") + 10);
        if (piece[5] == '2') {
            break;
        }
    }
    EXPECT_EQ(joined, signature);
    EXPECT_EQ(verified(signature), "");
    EXPECT_NE(folder_.read("content.bin").find(contractBase64), S::npos);
}

TEST_F(SoftkeyPluginTest, APageSetsUpTheKeyAndChoosesAFile) {
    EXPECT_EQ(text("GetDriverVersion"), "1.0.0.0");
    EXPECT_EQ(text("GetVersion"), "1.0.0.0");
    EXPECT_EQ(text("GetLanguageList"), "zh_CN||en_US");
    EXPECT_EQ(call("SetLanguage", {S("en_US")}), ScriptValue(int32_t{0}));
    EXPECT_EQ(call("SetWarningMsg", {kDisplay}), ScriptValue(int32_t{0}));
    EXPECT_EQ(call("SetCharset", {S("KOI8-R")}), ScriptValue(int32_t{-106}));
    // The key asks for the PINs itself.
    EXPECT_EQ(call("CustInitCard"), ScriptValue(int32_t{0}));
    expectRun("softkey user --pin 12345678 --new-pin 87654321");
    EXPECT_EQ(call("ChangePin"), ScriptValue(int32_t{0}));
    // The file dialog answers a path; the page gets its token.
    const S chosen = (folder_.root() / "chosen.txt").string();
    folder_.write("chosen.txt", "chosen");
    folder_.setEnv("ORVA_FILE_DIALOG", "printf '%s\\n' " + shellQuote(chosen));
    folder_.write("token.b64", text("NSChooseFileExt"));
    EXPECT_NE(expectRun("openssl base64 -d -A -in token.b64").find("||FILEPATH=" + chosen + "||"),
              S::npos);
}

// What the key holds, then older and named keys deleted; the secure road in
// admin state 2.
TEST_F(SoftkeyPluginTest, KeyQueriesAndDeletions) {
    const S wang = "CN=Wang Wu,OU=Branch,O=Bank";
    const S provision = "softkey provision --sn " + kSn + " ";
    provisionSigner();
    expectRun(provision + "--alg rsa1024 --type 4 --days 10 --subject " + shellQuote(wang));
    expectRun(provision + "--alg rsa1024 --type 4 --subject " + shellQuote(wang));
    EXPECT_EQ(text("GMGetCertDN"), kZhangSan + "||" + wang + "||" + wang);
    EXPECT_EQ(call("GetPublicKeyNum"), ScriptValue(int32_t{3}));
    // "02" and the base64 of 04 X Y.
    EXPECT_EQ(text("GMGetPublicKey", {S("AllPubKey")}).substr(0, 3), "02B");
    EXPECT_EQ(text("GMGetAdminKeyInfo").size(), 20u);
    // The three certificates, the first Zhang San's; the temporary key; three enciphered keys.
    const S certificates = text("GMGetPKCS7");
    const auto parts = [](const S& list) {
        return std::count(list.begin(), list.end(), '|') / 2 + 1;
    };
    EXPECT_EQ(parts(certificates), 3) << certificates;
    folder_.write("first.b64", certificates.substr(0, certificates.find("||")));
    EXPECT_NE(
        expectRun("openssl base64 -d -A -in first.b64 | openssl x509 -inform DER -noout -subject")
            .find("CN = Zhang San"),
        S::npos);
    EXPECT_EQ(text("GMGetTemKey").size(), 24u);
    EXPECT_EQ(parts(text("GetPublicKeyC")), 3);
    EXPECT_EQ(call("GMBankEncGetRand"), ScriptValue(int32_t{-411}));
    EXPECT_EQ(call("RegisterCert"), ScriptValue(int32_t{0}));
    EXPECT_EQ(call("GMJudgeAndDelOlderDN"), ScriptValue(int32_t{0}));
    EXPECT_EQ(call("GMJudgeAndDelOlderDN"), ScriptValue(int32_t{1}));
    EXPECT_EQ(call("GMDelTempKey", {kZhangSan, S()}), ScriptValue(int32_t{0}));
    EXPECT_EQ(text("GMGetCertDN"), wang);
    expectRun("softkey admin-state 2");
    EXPECT_EQ(text("GMBankEncGetRand").size(), 20u);
    // The remaining Wang key by name, enciphered under a 15-byte server random.
    EXPECT_GT(text("GMGetPublicKeyC", {S("02"), S("Wang"), S("AAECAwQFBgcICQoLDA0O")}).size(),
              100u);
    EXPECT_EQ(call("UnRegisterCert"), ScriptValue(int32_t{0}));
}

// Enrolment on a key without containers: the request, the bank's certificate
// and envelope, their installation, and a signature under the new certificate.
TEST_F(SoftkeyPluginTest, APageEnrolsAndSignsWithTheNewCertificate) {
    const S request =
        text("GMCreatePKCS10", {"DN(" + kZhangSan + ")HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)"});
    ASSERT_GT(request.size(), 100u) << request;
    folder_.write("request.b64", request);
    const S certificate = expectRun("softkey issue request.b64");
    const S container = expectRun("softkey show " + kSn +
                                  " --json | python3 -c 'import json, sys; "
                                  "print(json.load(sys.stdin)[\"containers\"][0][\"index\"])'");
    const S envelope =
        expectRun("softkey envelope --container " + container.substr(0, container.find('\n')) +
                  " --subject " + shellQuote(kZhangSan));
    const auto trimmed = [](S text) { return text.substr(0, text.find_last_not_of("\r\n") + 1); };
    EXPECT_EQ(call("GMWritePKCS7_Enc", {trimmed(certificate), trimmed(envelope), S()}),
              ScriptValue(int32_t{0}));
    const S p7 = text("GMUsbKeySign", {kZhangSan, S("SM3"), kXml, kDisplay, S()});
    EXPECT_EQ(verified(p7), "");

    // An RSA key pair's certificate alone: with the SM2 pair's signature and
    // exchange certificates, three.
    const S rsaRequest =
        text("GMCreatePKCS10", {"DN(" + kZhangSan + ")HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(03)"});
    folder_.write("rsa.b64", rsaRequest);
    EXPECT_EQ(call("GMWritePKCS7", {trimmed(expectRun("softkey issue rsa.b64"))}),
              ScriptValue(int32_t{0}));
    EXPECT_EQ(text("GMGetCertDN"), kZhangSan + "||" + kZhangSan + "||" + kZhangSan);
}

TEST_F(SoftkeyPluginTest, TheStandInBrowserProgramCallsOneMethod) {
    const S plugin = shellQuote(pluginPath());
    EXPECT_EQ(expectRun("npapi-host " + plugin + " GetMediaID"),
              "NP_Initialize() called\nNPAPI LoadLib_Log failed\n" + kSn + "\n");
    const CommandResult refused = run("npapi-host " + plugin + " GMGetPublicKey 5");
    EXPECT_EQ(refused.status, 0);
    EXPECT_NE(refused.output.find("\n-106\n"), S::npos) << refused.output;
    EXPECT_EQ(run("npapi-host " + plugin + " NoSuchMethod").status, 2);
    EXPECT_EQ(
        run("npapi-host " + shellQuote((frontend::test::binFolder() / "libplatform.so").string()) +
            " GetMediaID")
            .status,
        1);
}

}  // namespace
}  // namespace orva::npapi_plugin::test
