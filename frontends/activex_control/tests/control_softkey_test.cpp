// The control over the real token API library and a software key, driven by
// name through IDispatch as a page's script drives it; signatures checked
// with the openssl command line.

#include "control_test_support.h"
#include "orva/testing/support.h"
#include "pkcs7_check.h"

namespace orva::control::test {
namespace {

using orva::testing::CommandResult;
using orva::testing::shellQuote;

const std::string kZhangSan = "CN=Zhang San,OU=Unit,O=Bank";
const std::string kLiSi = "CN=Li Si,OU=Unit,O=Bank";
// "<T>中文</T>" in UTF-8 and GB18030, and "付款" to show.
const std::string kXml = "<T>\xe4\xb8\xad\xe6\x96\x87</T>";
const std::string kXmlGb = "<T>\xd6\xd0\xce\xc4</T>";
const std::string kDisplay = "\xe4\xbb\x98\xe6\xac\xbe";

class SoftkeyControlTest : public ControlTest {
  protected:
    SoftkeyControlTest() : ControlTest(frontend::test::binFolder()) {
        folder_.setEnv("ORVA_SOFTKEY_DIR", (folder_.root() / "softkey").string());
        folder_.setEnv("ORVA_ACP", "65001");
        // The product's registration, with the driver's version.
        expectRun("orva-setup register");
        expectRun("softkey create --sn SK0000000001");
        expectRun("softkey user --pin 12345678");
    }

    // A shell command in the test's folder with the build's programs.
    CommandResult run(const std::string& command) const {
        return orva::testing::runCommand("cd " + shellQuote(folder_.root().string()) + " && PATH=" +
                                         shellQuote(frontend::test::binFolder().string()) +
                                         ":\"$PATH\" " + command);
    }
    std::string expectRun(const std::string& command) const {
        const CommandResult result = run(command);
        EXPECT_EQ(result.status, 0) << command << "\n" << result.output;
        return result.output;
    }

    // A token text as openssl decodes it, and one of its "NAME=value" fields.
    std::string decoded(const std::string& base64) {
        folder_.write("token.b64", base64);
        return expectRun("openssl base64 -d -A -in token.b64");
    }
    static std::string field(const std::string& text, const std::string& name) {
        const std::size_t start = text.find(name + "=");
        if (start == std::string::npos) {
            return "";
        }
        const std::size_t from = start + name.size() + 1;
        return text.substr(from, text.find("||", from) - from);
    }

    std::string result(std::string_view method, const std::vector<std::string>& args = {}) {
        std::string line;
        tools::describeOutcome(invoke(method, args), &line);
        return line;
    }

    // "" when the base64 PKCS#7 holds an SM2 signature by a certificate of
    // the test CA over content that contains `expected`; else what failed.
    std::string verifySm2(const std::string& base64, const std::string& expected) {
        const std::string failed = frontend::test::verifySm2Pkcs7(
            [this](const std::string& command) { return run(command); }, base64);
        if (!failed.empty()) {
            return failed;
        }
        return folder_.read("content.bin").find(expected) != std::string::npos
                   ? ""
                   : "content without the transaction";
    }
};

TEST_F(SoftkeyControlTest, APageReadsTheKeyAndSignsATransaction) {
    // The script-like client itself, as a user runs it.
    EXPECT_EQ(expectRun("com-call Orva_usbkey_ctrl.orva_usbkey GetMediaID"), "SK0000000001\n");
    EXPECT_EQ(result("GetDriverVersion"), "1.0.0.0");
    EXPECT_EQ(result("GetVersion"), "1.0.0.0");
    EXPECT_EQ(result("GetCSPInfo", {"SK0000000001"}), "Korvane CSP ORVA V1.0||1.0.0.0");
    EXPECT_EQ(result("GetCharsetList"), "GBK||UTF-8||GB18030");
    EXPECT_EQ(result("GetLanguageList"), "zh_CN||en_US");
    EXPECT_EQ(result("SetLanguage", {"en_US"}), "0");
    EXPECT_EQ(result("SetWarningMsg", {kDisplay}), "0");
    EXPECT_EQ(result("SetCharset", {"KOI8-R"}), "error -106 (0xFFFFFF96): INVALID PARAMETER");

    // The key asks for the PINs itself.
    EXPECT_EQ(result("CustInitCard"), "0");
    expectRun("softkey user --pin 12345678 --new-pin 87654321");
    EXPECT_EQ(result("ChangePin"), "0");
    // From here the key takes the new PIN only.
    expectRun("softkey user --pin 87654321");

    expectRun("softkey provision --sn SK0000000001 --alg sm2 --type 3 --subject " +
              shellQuote(kZhangSan));
    // GBK at start: the key signs the GB18030 text.
    std::string p7 = result("GMUsbKeySign", {kZhangSan, "SM3", kXml, kDisplay, ""});
    ASSERT_GT(p7.size(), 100u) << p7;
    EXPECT_EQ(verifySm2(p7, kXmlGb), "");
    EXPECT_EQ(result("SetCharset", {"UTF-8"}), "0");
    p7 = result("GMUsbKeySign", {kZhangSan, "SM3", kXml, kDisplay, ""});
    EXPECT_EQ(verifySm2(p7, kXml), "");

    // Into a signature file, over a file to sign.
    folder_.write("order.txt", "pay 100");
    const std::string p7File = (folder_.root() / "order.p7").string();
    EXPECT_EQ(result("GMUsbKeySignFile", {kZhangSan, "SM3", kXml, kDisplay,
                                          (folder_.root() / "order.txt").string(), p7File}),
              "0");
    EXPECT_EQ(verifySm2(folder_.read("order.p7"), kXml), "");

    // An RSA container signs too.
    expectRun("softkey provision --sn SK0000000001 --alg rsa2048 --type 3 --subject " +
              shellQuote(kLiSi));
    p7 = result("GMUsbKeySign", {kLiSi, "SHA256", kXml, kDisplay, "undefined"});
    folder_.write("rsa.b64", p7);
    expectRun("openssl base64 -d -A -in rsa.b64 -out rsa.der");
    EXPECT_EQ(run("openssl cms -verify -inform DER -binary -in rsa.der -CAfile ca.pem"
                  " -purpose any -out rsa.bin")
                  .status,
              0);
    EXPECT_NE(folder_.read("rsa.bin").find(kXml), std::string::npos);

    // The user's answer and a missing key come back as their descriptions.
    expectRun("softkey user --pin 87654321 --button cancel");
    EXPECT_EQ(result("GMUsbKeySign", {kLiSi, "SHA256", kXml, kDisplay, ""}),
              "error -100 (0xFFFFFF9C): USER CANCEL");
    expectRun("softkey unplug SK0000000001");
    EXPECT_EQ(result("GetMediaID"), "error -102 (0xFFFFFF9A): NO DEVICE");
}

// The key's certificates and keys queried, registered and deleted. The
// deletion list goes in UTF-8, so a Chinese name finds its container.
TEST_F(SoftkeyControlTest, APageQueriesRegistersAndDeletesTheKeysKeys) {
    const std::string zhang = "CN=\xe5\xbc\xa0\xe4\xb8\x89,O=Bank";
    const std::string wang = "CN=Wang Wu,OU=Branch,O=Bank";
    const std::string provision = "softkey provision --sn SK0000000001 ";
    expectRun(provision + "--alg sm2 --type 3 --subject " + shellQuote(zhang));
    expectRun(provision + "--alg rsa1024 --type 4 --days 10 --subject " + shellQuote(wang));
    expectRun(provision + "--alg rsa1024 --type 4 --subject " + shellQuote(wang));
    EXPECT_EQ(result("GMGetCertDN"), zhang + "||" + wang + "||" + wang);
    EXPECT_EQ(result("GetPublicKeyNum"), "3");
    // "02" and the base64 of 04 X Y.
    EXPECT_EQ(result("GMGetPublicKey", {"AllPubKey"}).substr(0, 3), "02B");
    EXPECT_EQ(result("GMGetAdminKeyInfo").size(), 20u);
    EXPECT_EQ(result("GMGetTemKey").size(), 24u);
    EXPECT_FALSE(result("GetPublicKeyC").empty());
    EXPECT_EQ(result("GMBankEncGetRand"), "error -411 (0xFFFFFE65): ERR FUNC UNSUPPORT");
    // The secure road: the key's signature key found by its subject, enciphered with the server's
    // random (bytes 0..14) into one base64 text. "str:" keeps "02" a string, as a script's literal.
    expectRun("softkey admin-state 2");
    EXPECT_EQ(result("GMBankEncGetRand").size(), 20u);
    const std::string enciphered =
        result("GMGetPublicKeyC", {"str:02", wang, "AAECAwQFBgcICQoLDA0O"});
    EXPECT_GT(enciphered.size(), 20u) << enciphered;
    EXPECT_EQ(enciphered.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                           "0123456789+/="),
              std::string::npos)
        << enciphered;
    EXPECT_EQ(result("GMGetPublicKeyC", {"str:03", wang, "AAECAwQFBgcICQoLDA0O"}),
              "error -106 (0xFFFFFF96): INVALID PARAMETER");
    expectRun("softkey admin-state 1");
    // The first signing certificate, as openssl reads it.
    const std::string certificates = result("GMGetPKCS7");
    folder_.write("cert.b64", certificates.substr(0, certificates.find("||")));
    EXPECT_NE(expectRun("openssl base64 -d -A -in cert.b64 | openssl x509 -inform DER -noout "
                        "-subject -nameopt utf8")
                  .find(zhang.substr(0, zhang.find(','))),
              std::string::npos);
    EXPECT_EQ(result("RegisterCert"), "0");
    // The older of the two: deleted; then nothing older is left (S_FALSE, 1).
    EXPECT_EQ(result("GMJudgeAndDelOlderDN"), "0");
    EXPECT_EQ(result("GMJudgeAndDelOlderDN"), "1");
    EXPECT_EQ(result("GMDelTempKey", {zhang, ""}), "0");
    EXPECT_EQ(result("GMGetCertDN"), wang);
    EXPECT_EQ(result("UnRegisterCert"), "0");
}

// A file named, signed into a signature file and read back in pieces.
TEST_F(SoftkeyControlTest, APageSignsAFileAndReadsTheSignatureBackInPieces) {
    expectRun("softkey provision --sn SK0000000001 --alg sm2 --type 3 --subject " +
              shellQuote(kZhangSan));
    EXPECT_EQ(result("SetCharset", {"UTF-8"}), "0");
    folder_.write("contract.txt", "pay 100.00\n");
    const std::string path = (folder_.root() / "contract.txt").string();
    const std::string named = field(decoded(result("NSFileToTokenExt", {path})), "TOKEN");
    ASSERT_EQ(named.size(), 64u);
    // The same file chosen in the dialog: its token replaces the named one.
    folder_.setEnv("ORVA_FILE_DIALOG", "printf '%s\\n' " + shellQuote(path));
    const std::string chosenText = decoded(result("NSChooseFileExt"));
    EXPECT_EQ(field(chosenText, "FILEPATH"), path);
    const std::string signedText = decoded(
        result("GMUsbKeySignFileExt", {"", "SM3", kXml, kDisplay, field(chosenText, "TOKEN")}));
    const std::string token = field(signedText, "TOKEN");
    const std::string size = field(signedText, "FILESIZE");
    ASSERT_FALSE(size.empty()) << signedText;
    // Pieces of 100 characters until the last one says so ("MARK=2").
    std::string signature;
    for (int offset = 0; offset <= std::stoi(size); offset += 100) {
        const std::string piece =
            result("GetSignFileContent", {token, "100", std::to_string(offset)});
        ASSERT_EQ(piece.rfind("MARK=", 0), 0u) << piece;
        signature += piece.substr(piece.find("||CONTENT=") + 10);
        if (piece[5] == '2') {
            break;
        }
    }
    EXPECT_EQ(signature, folder_.read(field(signedText, "FILENAME")));
    EXPECT_EQ(verifySm2(signature, kXml), "");
    EXPECT_EQ(result("GetSignFileContent", {named, "100", "0"}),
              "error -341 (0xFFFFFEAB): ERR TOKEN INFO");
}

// Enrolment: one request description for an SM2 and an RSA key pair; both
// requests verify under their new keys and the test CA issues them.
TEST_F(SoftkeyControlTest, APageRequestsCertificatesForNewKeyPairs) {
    const std::string requests =
        result("GMCreatePKCS10",
               {"DN(CN=\xe5\xbc\xa0\xe4\xb8\x89,O=Bank)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)"
                "||DN(CN=Zhang San)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(03)"});
    const std::size_t bars = requests.find("||");
    ASSERT_NE(bars, std::string::npos) << requests;
    const std::string parts[] = {requests.substr(0, bars), requests.substr(bars + 2)};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(
            frontend::test::verifyPkcs10(
                [this](const std::string& command) { return run(command); }, parts[i], i == 0),
            "");
        // The bank's answer, installed where its key pair is; the SM2 pair gets an encryption
        // key pair and certificate in an envelope as well.
        std::string issued = expectRun("softkey issue req.der");
        issued.erase(issued.find_last_not_of("\n") + 1);
        if (i == 0) {
            std::string envelope = expectRun("softkey envelope --sn SK0000000001 --container 1");
            envelope.erase(envelope.find_last_not_of("\n") + 1);
            EXPECT_EQ(result("GMWritePKCS7_Enc", {issued, envelope, "undefined"}), "0");
        } else {
            EXPECT_EQ(result("GMWritePKCS7", {issued}), "0");
        }
    }
    const std::string shown = expectRun("softkey show SK0000000001");
    EXPECT_NE(shown.find("exchange key: sm2"), std::string::npos) << shown;
    // The subject's name went to the key as UTF-8 and stands in the request so.
    folder_.write("req.b64", parts[0]);
    expectRun("openssl base64 -d -A -in req.b64 -out req.der");
    EXPECT_NE(expectRun("openssl req -inform DER -in req.der -noout -subject -nameopt utf8")
                  .find("CN=\xe5\xbc\xa0\xe4\xb8\x89"),
              std::string::npos);
    // The new certificate signs.
    EXPECT_EQ(result("SetCharset", {"UTF-8"}), "0");
    const std::string p7 =
        result("GMUsbKeySign", {"CN=\xe5\xbc\xa0\xe4\xb8\x89,O=Bank", "SM3", kXml, kDisplay, ""});
    EXPECT_EQ(verifySm2(p7, kXml), "");
    EXPECT_EQ(result("GMWritePKCS7", {""}), "error -106 (0xFFFFFF96): INVALID PARAMETER");
    EXPECT_EQ(result("GMCreatePKCS10", {"DN(CN=A)HASH(SM3)KEYTYPE(RSA1024)CERTTYPE(01)"}),
              "error -314 (0xFFFFFEC6): ERR HASH TYPE");
}

}  // namespace
}  // namespace orva::control::test
