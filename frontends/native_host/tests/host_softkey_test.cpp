// The built host over the real token API library and software keys, set up by
// orva-setup: what a page sees, what the key shows, and signatures checked
// with the openssl command line.

#include <map>
#include <sstream>
#include <string>

#include "host_test_support.h"
#include "pkcs7_check.h"

namespace orva::native_host::test {
namespace {

const std::string kZhangSan = "CN=Zhang San,OU=Unit,O=Bank";
const std::string kLiSi = "CN=Li Si,OU=Unit,O=Bank";
// "付款 100.00 元" and "<T>中文</T>", in UTF-8 and in GB18030.
const std::string kDisplay = "\xe4\xbb\x98\xe6\xac\xbe 100.00 \xe5\x85\x83";
const std::string kDisplayGb = "\xb8\xb6\xbf\xee 100.00 \xd4\xaa";
const std::string kXml = "<T>\xe4\xb8\xad\xe6\x96\x87</T>";
const std::string kXmlGb = "<T>\xd6\xd0\xce\xc4</T>";

using orva::testing::CommandResult;
using orva::testing::shellQuote;

class SoftkeyHostTest : public ::testing::Test {
  protected:
    SoftkeyHostTest() {
        const CommandResult registered = run(shellQuote(ORVA_SETUP_PROGRAM) + " register");
        EXPECT_EQ(registered.status, 0) << registered.output;
        expectRun("softkey create --sn SK0000000001");
        // The person at the key types the PIN when asked, and confirms.
        expectRun("softkey user --pin 12345678");
    }

    std::map<std::string, std::string> environment() const {
        return {{"ORVA_REGISTRY", (folder_.root() / "registry.reg").string()},
                {"ORVA_SOFTKEY_DIR", (folder_.root() / "softkey").string()},
                {"TMPDIR", folder_.root().string()},
                {"ORVA_ACP", acp_}};
    }

    // A shell command in the test's folder, with its environment and the
    // build's programs; stdout and stderr.
    CommandResult run(const std::string& command) const {
        std::string line = "cd " + shellQuote(folder_.root().string()) + " && ";
        for (const auto& [name, value] : environment()) {
            line += name + "=" + shellQuote(value) + " ";
        }
        line += "PATH=" + shellQuote(frontend::test::binFolder().string()) + ":\"$PATH\" ";
        return orva::testing::runCommand(line + command);
    }
    std::string expectRun(const std::string& command) const {
        const CommandResult result = run(command);
        EXPECT_EQ(result.status, 0) << command << "\n" << result.output;
        return result.output;
    }

    HostProcess& host() {
        if (!host_) {
            host_ = std::make_unique<HostProcess>(environment());
        }
        return *host_;
    }
    std::string resp(std::string_view command, std::string_view members = {}) {
        return respOf(host().request(request(command, members)));
    }

    std::string sign(const std::string& signer, const std::string& hash) {
        return resp("GMUsbKeySign", R"("SignerDN":")" + signer + R"(","HashName":")" + hash +
                                        R"(","xmlMsg":")" + kXml + R"(","keyMsg":")" + kDisplay +
                                        R"(","NewVal":"")");
    }

    // The last line of the key's display log.
    Json lastShown() {
        const std::string log = folder_.read("softkey/display.log");
        const std::size_t end = log.find_last_not_of('\n');
        const std::size_t start = log.rfind('\n', end);
        return parseJson(log.substr(start == std::string::npos ? 0 : start + 1,
                                    end == std::string::npos ? 0 : end + 1));
    }
    static std::string member(const Json& json, const char* name) {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(json.get(), name);
        if (cJSON_IsNumber(item)) {
            return std::to_string(item->valueint);
        }
        return cJSON_IsString(item) ? item->valuestring : "<none>";
    }
    std::string base64Decoded(const std::string& base64) {
        folder_.write("decode.b64", base64);
        return expectRun("openssl base64 -d -A -in " +
                         shellQuote((folder_.root() / "decode.b64").string()));
    }

    // The PKCS#7 written to p7.der; its content to content.bin; "" when the
    // signature holds, else what openssl said.
    std::string verifyRsa(const std::string& base64) {
        writeSignature(base64);
        const CommandResult chain =
            run("openssl cms -verify -inform DER -binary -in p7.der -CAfile ca.pem"
                " -purpose any -out content.bin");
        return chain.status == 0 ? "" : chain.output;
    }
    std::string verifySm2(const std::string& base64) {
        writeSignature(base64);
        // The structure, the signer's certificate and its chain.
        const std::string parsed = expectRun("openssl asn1parse -inform DER -in p7.der");
        for (const char* expected : {":pkcs7-signedData", ":sm3", ":sm2"}) {
            if (parsed.find(expected) == std::string::npos) {
                return std::string("no ") + expected + " in\n" + parsed;
            }
        }
        expectRun("openssl pkcs7 -inform DER -in p7.der -print_certs -out signer.pem");
        const CommandResult chain = run("openssl verify -CAfile ca.pem signer.pem");
        if (chain.status != 0) {
            return chain.output;
        }
        // The signature is the last OCTET STRING; SM2 over the content with
        // the default user id.
        std::string offset;
        std::istringstream lines(parsed);
        for (std::string line; std::getline(lines, line);) {
            if (line.find("prim: OCTET STRING") != std::string::npos) {
                offset = line.substr(0, line.find(':'));
            }
        }
        expectRun("openssl asn1parse -inform DER -in p7.der -noout -strparse " + offset +
                  " -out signature.der");
        expectRun(
            "openssl cms -verify -inform DER -noverify -nosigs -binary -in p7.der"
            " -out content.bin");
        expectRun("openssl x509 -in signer.pem -pubkey -noout -out signer.pub");
        const CommandResult verified =
            run("openssl pkeyutl -verify -pubin -inkey signer.pub -rawin -digest sm3"
                " -pkeyopt distid:1234567812345678 -in content.bin -sigfile signature.der");
        return verified.status == 0 ? "" : verified.output;
    }
    std::string signedContent() const { return folder_.read("content.bin"); }

    // A file token's text, decoded: "TOKEN", "FILEPATH" or "FILENAME", "FILESIZE".
    std::map<std::string, std::string> tokenFields(const std::string& base64) {
        std::map<std::string, std::string> fields;
        const std::string text = base64Decoded(base64);
        for (std::size_t start = 0; start <= text.size();) {
            std::size_t end = text.find("||", start);
            end = end == std::string::npos ? text.size() : end;
            const std::string field = text.substr(start, end - start);
            const std::size_t equals = field.find('=');
            fields[field.substr(0, equals)] =
                equals == std::string::npos ? "" : field.substr(equals + 1);
            start = end + 2;
        }
        return fields;
    }

    TestFolder folder_;
    std::unique_ptr<HostProcess> host_;
    std::string acp_ = "65001";

  private:
    void writeSignature(const std::string& base64) {
        folder_.write("p7.b64", base64);
        folder_.write("ca.pem", expectRun("softkey ca"));
        expectRun("openssl base64 -d -A -in p7.b64 -out p7.der");
    }
};

TEST_F(SoftkeyHostTest, DeviceAndInstallQueries) {
    EXPECT_EQ(resp("GetMediaID"), "SK0000000001");
    EXPECT_EQ(resp("GetDriverVersion"), "1.0.0.0");
    EXPECT_EQ(resp("GetCSPInfo"), "Korvane CSP ORVA V1.0||1.0.0.0");
    EXPECT_EQ(resp("GetCharsetList"), "GBK||UTF-8||GB18030");
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"KOI8-R")"), "-106");
    expectRun("softkey unplug SK0000000001");
    EXPECT_EQ(resp("GetMediaID"), "-102");
}

TEST_F(SoftkeyHostTest, TheKeyShowsTheTextInTheCharsetItIsTold) {
    expectRun("softkey provision --sn SK0000000001 --alg sm2 --type 3 --subject " +
              shellQuote(kZhangSan));
    // GBK at start: GB18030 bytes, and the key is told GBK.
    std::string p7 = sign(kZhangSan, "SM3");
    ASSERT_GT(p7.size(), 100u) << p7;
    Json shown = lastShown();
    EXPECT_EQ(member(shown, "outcome"), "signed");
    EXPECT_EQ(member(shown, "charset"), "1");
    EXPECT_EQ(base64Decoded(member(shown, "displayBase64")), kDisplayGb);
    EXPECT_EQ(verifySm2(p7), "");
    EXPECT_NE(signedContent().find(kXmlGb), std::string::npos);

    // "utf-8" in small letters: the library and the host both mean UTF-8.
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"utf-8")"), "0");
    p7 = sign(kZhangSan, "SM3");
    shown = lastShown();
    EXPECT_EQ(member(shown, "charset"), "2");
    EXPECT_EQ(member(shown, "display"), kDisplay);
    EXPECT_EQ(base64Decoded(member(shown, "displayBase64")), kDisplay);
    EXPECT_EQ(verifySm2(p7), "");
    EXPECT_NE(signedContent().find(kXml), std::string::npos);

    EXPECT_EQ(resp("SetCharset", R"("CharSet":"GB18030")"), "0");
    p7 = sign(kZhangSan, "SM3");
    shown = lastShown();
    EXPECT_EQ(member(shown, "charset"), "3");
    EXPECT_EQ(member(shown, "display"), kDisplay);
    EXPECT_EQ(base64Decoded(member(shown, "displayBase64")), kDisplayGb);
    EXPECT_EQ(verifySm2(p7), "");
}

TEST_F(SoftkeyHostTest, AnRsaContainerSignsToo) {
    expectRun("softkey provision --sn SK0000000001 --alg sm2 --type 3 --subject " +
              shellQuote(kZhangSan));
    expectRun("softkey provision --sn SK0000000001 --alg rsa2048 --type 3 --subject " +
              shellQuote(kLiSi));
    const std::string p7 = sign(kLiSi, "SHA256");
    ASSERT_GT(p7.size(), 100u) << p7;
    EXPECT_EQ(verifyRsa(p7), "");
    EXPECT_NE(signedContent().find(kXmlGb), std::string::npos);
}

// The query, registration and deletion commands over frames; the keys and
// certificates they hand out are checked with openssl on the Chromium road.
TEST_F(SoftkeyHostTest, KeyQueriesAndDeletionsAnswerInFrames) {
    const std::string wang = "CN=Wang Wu,OU=Branch,O=Bank";
    const std::string provision = "softkey provision --sn SK0000000001 ";
    expectRun(provision + "--alg sm2 --type 3 --subject " + shellQuote(kZhangSan));
    expectRun(provision + "--alg rsa1024 --type 4 --days 10 --subject " + shellQuote(wang));
    expectRun(provision + "--alg rsa1024 --type 4 --subject " + shellQuote(wang));
    EXPECT_EQ(resp("GMGetCertDN"), kZhangSan + "||" + wang + "||" + wang);
    EXPECT_EQ(resp("GetPublicKeyNum"), "3");
    // "02" and the base64 of 04 X Y.
    EXPECT_EQ(resp("GMGetPublicKey", R"("ReadType":"AllPubKey")").substr(0, 3), "02B");
    EXPECT_EQ(resp("GMGetAdminKeyInfo").size(), 20u);
    EXPECT_EQ(resp("GMBankEncGetRand"), "-411");
    EXPECT_EQ(resp("RegisterCert"), "0");
    EXPECT_EQ(resp("GMJudgeAndDelOlderDN"), "0");
    EXPECT_EQ(resp("GMJudgeAndDelOlderDN"), "1");
    EXPECT_EQ(resp("GMDelTempKey", R"("CertDn":"CN=Zhang San,OU=Unit,O=Bank","PublicKeyId":"")"),
              "0");
    EXPECT_EQ(resp("GMGetCertDN"), wang);
    EXPECT_EQ(resp("UnRegisterCert"), "0");
}

TEST_F(SoftkeyHostTest, TheUsersAnswerComesBackAsItsCode) {
    expectRun("softkey provision --sn SK0000000001 --alg sm2 --type 3 --subject " +
              shellQuote(kZhangSan));
    expectRun("softkey user --pin 12345678 --button cancel");
    EXPECT_EQ(sign(kZhangSan, "SM3"), "-100");
    EXPECT_EQ(member(lastShown(), "outcome"), "cancelled");
    EXPECT_EQ(sign("CN=Nobody", "SM3"), "-405");
}

TEST_F(SoftkeyHostTest, ASignatureFileIsNamedAfterTheSignerInTheAnsiCodePage) {
    // "张三" in UTF-8 and in GBK.
    const std::string zhang = "\xe5\xbc\xa0\xe4\xb8\x89";
    expectRun("softkey provision --sn SK0000000001 --alg sm2 --type 3 --subject " +
              shellQuote("CN=" + zhang + ",OU=Unit,O=Bank"));
    folder_.write("a.txt", "A");
    const struct {
        const char* acp;
        std::string onDisk;
    } cases[] = {{"65001", zhang}, {"936", "\xd5\xc5\xc8\xfd"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.acp);
        acp_ = c.acp;
        host_.reset();
        const std::string token =
            tokenFields(resp("NSFileToTokenExt",
                             R"("path":")" + (folder_.root() / "a.txt").string() + "\""))["TOKEN"];
        const std::map<std::string, std::string> signature =
            tokenFields(resp("GMUsbKeySignFileExt", R"("SignerDN":"","HashName":"SM3","xmlMsg":")" +
                                                        kXml + R"(","keyMsg":")" + kDisplay +
                                                        R"(","chooseFileToken":")" + token + "\""));
        // The page reads the name in UTF-8; the file has it in the code page.
        ASSERT_EQ(signature.count("FILENAME"), 1u);
        const std::string name = signature.at("FILENAME");
        EXPECT_EQ(name.substr(0, zhang.size() + 1), zhang + ".");
        const fs::path onDisk = folder_.root() / (c.onDisk + name.substr(zhang.size()));
        EXPECT_TRUE(fs::exists(onDisk)) << onDisk;
        fs::remove(onDisk);
    }
}

// A page enrols for an SM2 and an RSA key pair in one request: both requests
// verify under their new keys and the test CA issues certificates for them.
TEST_F(SoftkeyHostTest, CertificateRequestsForTwoNewKeyPairs) {
    const std::string requests =
        resp("GMCreatePKCS10",
             R"x("CertReq":"DN(CN=Zhang San,OU=Unit,O=Bank)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01))x"
             R"x(||DN(CN=Zhang San)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(03)")x");
    const std::size_t bars = requests.find("||");
    ASSERT_NE(bars, std::string::npos) << requests;
    const std::string parts[] = {requests.substr(0, bars), requests.substr(bars + 2)};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(
            frontend::test::verifyPkcs10(
                [this](const std::string& command) { return run(command); }, parts[i], i == 0),
            "");
        EXPECT_NE(expectRun("openssl req -inform DER -in req.der -noout -text")
                      .find(i == 0 ? "SM2-with-SM3" : "sha256WithRSAEncryption"),
                  std::string::npos);
        expectRun("softkey issue req.der");
    }
    EXPECT_EQ(
        resp("GMCreatePKCS10", R"x("CertReq":"DN(CN=A)HASH(SM3)KEYTYPE(RSA1024)CERTTYPE(01)")x"),
        "-314");
}

}  // namespace
}  // namespace orva::native_host::test
