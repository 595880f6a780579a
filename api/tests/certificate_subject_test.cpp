// Certificates whose subject values carry the separators of a name, installed
// as a page installs them, through the built library against the software
// key: the subject text the key lists, the signer a name chooses (checked with
// the openssl command line), the containers a name deletes and the signature
// file a common name names.

#include <gtest/gtest.h>

#include <initializer_list>
#include <regex>
#include <set>
#include <string>

#include "api_library.h"
#include "key_content_support.h"
#include "orva_result_codes.h"

namespace orva::api::test {
namespace {

// Key pairs awaiting their certificates; each certificate's subject as openssl
// writes it (most general first) and as the key lists it (most specific first).
struct Pair {
    const char* name;
    const char* type;
    const char* request;
};
constexpr Pair kForged = {"wang-forged", "3", "/CN=Wang Wu/O=x,CN=Zhang San"};
constexpr const char* kForgedDn = "O=x\\,CN=Zhang San,CN=Wang Wu";
constexpr Pair kPlain = {"zhang-plain", "2", "/CN=Wang Wu/CN=Zhang San/O=x"};
constexpr const char* kPlainDn = "O=x,CN=Zhang San,CN=Wang Wu";
constexpr Pair kComma = {"li-comma", "3", "/O=Bank/CN=Li, Si"};
constexpr const char* kCommaDn = "CN=Li\\, Si,O=Bank";
constexpr Pair kBars = {"wang-bars", "3", "/CN=Wang Wu/O=x||CN=Zhang San"};
constexpr const char* kBarsDn = "O=x\\7C\\7CCN=Zhang San,CN=Wang Wu";

constexpr std::string_view kXml = "<T><Amount>100.00</Amount></T>";
constexpr const char* kDisplay = "Pay 100.00?";

// Key SN1 in the test's store; request NAME TYPE SUBJECT adds a key pair and
// leaves in NAME.der the base64 certificate the store's test CA issued over
// openssl's request from it.
constexpr const char* kBank = R"(set -e
softkey() { "$BIN/softkey" --dir softkey "$@"; }
softkey create --sn SN1 --pin 12345678 >/dev/null
request() {
  softkey provision --sn SN1 --no-certificate --name $1 --alg sm2 --type $2 >/dev/null
  softkey export-key --sn SN1 --slot sign --container $1 > $1.key
  openssl req -new -key $1.key -subj "$3" -out $1.csr -sm3 -sigopt distid:1234567812345678
  softkey issue --format der $1.csr | tr -d '\n' > $1.der
}
)";

class CertificateSubject : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    // The key pairs on key SN1, their certificates installed as a page
    // installs them.
    void plugAndInstall(std::initializer_list<Pair> pairs) {
        std::string script =
            "cd '" + env_.root().string() + "' && BIN='" + binFolder().string() + "' && " + kBank;
        for (const Pair& p : pairs) {
            script += std::string("request ") + p.name + " " + p.type + " '" + p.request + "'\n";
        }
        const auto made = runCommand(script);
        ASSERT_EQ(made.status, 0) << made.output;
        env_.setUser(std::string(R"({"pin": ")") + kTestPin + "\"}");
        for (const Pair& p : pairs) {
            ASSERT_EQ(ORVA_API_FN(api_, QZAPI_GMWritePKCS7_Enc)(der(p).c_str(), nullptr, nullptr),
                      kSuccess)
                << p.name;
        }
    }
    std::string der(const Pair& p) const {
        return readText(env_.root() / (std::string(p.name) + ".der"));
    }
    ByteString certificate(const Pair& p) const { return *softkey::fromBase64(der(p)); }

    std::set<std::string> containersLeft() const {
        std::set<std::string> left;
        for (const auto& [index, c] : env_.key("SN1").containers) {
            left.insert(c.name);
        }
        return left;
    }

    TextResult certDns() { return callForText(ORVA_API_FN(api_, QZAPI_GMGetCertDN)); }
    int deleteByName(std::string_view names) {
        return ORVA_API_FN(api_, QZAPI_GMDelTempKey)(names.data(), static_cast<int>(names.size()),
                                                     nullptr);
    }

    // Buffer mode: the code; a signature must carry the expected signer's
    // certificate and verify with openssl.
    int sign(const char* signerDn, const Pair& expected) {
        const TextResult result = callForText([&](char* buffer, int* length) {
            return ORVA_API_FN(api_, QZAPI_GMUsbKeySign)(signerDn, "SM3", kXml.data(),
                                                         static_cast<int>(kXml.size()), "",
                                                         kDisplay, "", buffer, length);
        });
        if (result.code == kSuccess) {
            const PacketForm form =
                std::string_view(expected.type) == "2" ? PacketForm::text : PacketForm::binary;
            EXPECT_EQ(signedDataCertificate(env_, result.text), certificate(expected)) << signerDn;
            EXPECT_EQ(verifySm2Signature(env_, result.text, expectedPacket(form, kXml, kDisplay),
                                         certificate(expected)),
                      "")
                << signerDn;
        }
        return result.code;
    }

    TestEnvironment env_;
    ApiLibrary api_;
    const Event event_ = statusChangeEvent();
};

TEST_F(CertificateSubject, ACommaInAValueNeverNamesAnotherSigner) {
    plugAndInstall({kForged});
    EXPECT_EQ(certDns().text, kForgedDn);
    for (const char* dn : {"CN=Zhang San,O=x", "Zhang San", "CN=Zhang San", "CN=Wang Wu,O=x"}) {
        EXPECT_EQ(sign(dn, kForged), kNoMatchCertificate) << dn;
    }
    for (const char* dn : {"CN=Wang Wu", "Wang", kForgedDn, "CN=Wang Wu,O=x\\2CCN=Zhang San"}) {
        EXPECT_EQ(sign(dn, kForged), kSuccess) << dn;
    }
}

// Beside the forgery, the certificate whose subject is that text unescaped.
TEST_F(CertificateSubject, TheRealHolderOfTheNameSignsAndIsDeletedByIt) {
    plugAndInstall({kForged, kPlain});
    EXPECT_EQ(certDns().text, std::string(kForgedDn) + "||" + kPlainDn);
    EXPECT_EQ(sign("CN=Zhang San,O=x", kPlain), kSuccess);
    EXPECT_EQ(sign("CN=Wang Wu", kForged), kSuccess);
    // Two subjects, not one: neither is an older copy of the other.
    int unused = 0;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMJudgeAndDelOlderDN)(&unused), 1);
    EXPECT_EQ(containersLeft(), (std::set<std::string>{kForged.name, kPlain.name}));
    EXPECT_EQ(deleteByName(kPlainDn), kSuccess);
    EXPECT_EQ(containersLeft(), std::set<std::string>{kForged.name});
    EXPECT_EQ(deleteByName(kPlainDn), kNoMatchCertificate);
    EXPECT_EQ(deleteByName("O=x\\2cCN=Zhang San,CN=Wang Wu"), kSuccess);
    EXPECT_TRUE(containersLeft().empty());
}

// "||" joins subjects into lists: inside a value it never splits one.
TEST_F(CertificateSubject, BarsInAValueNeverSplitAList) {
    plugAndInstall({kBars, kPlain});
    EXPECT_EQ(certDns().text, std::string(kBarsDn) + "||" + kPlainDn);
    EXPECT_EQ(sign(kBarsDn, kBars), kSuccess);
    EXPECT_EQ(deleteByName(kBarsDn), kSuccess);
    EXPECT_EQ(containersLeft(), std::set<std::string>{kPlain.name});
}

TEST_F(CertificateSubject, TheSignatureFileIsNamedByTheUnescapedCommonName) {
    plugAndInstall({kComma});
    EXPECT_EQ(certDns().text, kCommaDn);
    env_.writeFile("contract.pdf", "%PDF-1.4");
    const std::string path = (env_.root() / "contract.pdf").string();
    const TextResult token = callForText([&](char* buffer, int* length) {
        return ORVA_API_FN(api_, QZAPI_FileToTokenExt)(path.c_str(), buffer, length);
    });
    ASSERT_EQ(token.code, kSuccess);
    const auto text = softkey::fromBase64(token.text);
    ASSERT_TRUE(text);
    const std::string digits(text->begin() + 6, text->begin() + 6 + 64);  // after "TOKEN="
    int length = 0;
    ASSERT_EQ(ORVA_API_FN(api_, QZAPI_GMUsbKeySignFileExt)("", "SM3", kXml.data(),
                                                           static_cast<int>(kXml.size()), kDisplay,
                                                           digits.c_str(), nullptr, &length),
              kSuccess);
    // The key pair's files and the signature file are all that is in the folder.
    std::vector<std::string> signatures;
    for (const auto& entry : fs::directory_iterator(env_.root())) {
        if (entry.path().extension() == ".sig") {
            signatures.push_back(entry.path().filename().string());
        }
    }
    ASSERT_EQ(signatures.size(), 1u);
    EXPECT_TRUE(std::regex_match(signatures[0], std::regex("Li, Si\\.[0-9]{12}\\.[0-9]{6}\\.sig")))
        << signatures[0];
}

}  // namespace
}  // namespace orva::api::test
