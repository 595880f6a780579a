// Certificates whose subject values carry the separators of a name, installed
// as a page installs them, through the built library against the software
// key: the subject text the key lists, the signer a name chooses (checked with
// the openssl command line), the containers a name deletes and the signature
// file a common name names.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
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
constexpr const char* kForged = "wang-forged";  // type 3
constexpr const char* kForgedDn = "O=x\\,CN=Zhang San,CN=Wang Wu";
constexpr const char* kPlain = "zhang-plain";  // type 2
constexpr const char* kPlainDn = "O=x,CN=Zhang San,CN=Wang Wu";
constexpr const char* kComma = "li-comma";  // type 3
constexpr const char* kCommaDn = "CN=Li\\, Si,O=Bank";

constexpr std::string_view kXml = "<T><Amount>100.00</Amount></T>";
constexpr const char* kDisplay = "Pay 100.00?";

// TMPDIR as the program found it: each test points it into its own folder.
const std::string originalTemp = [] {
    const char* value = getenv("TMPDIR");
    return std::string(value != nullptr && *value != '\0' ? value : "/tmp");
}();

// Key TPL with the three key pairs, and NAME.der: the base64 certificate the
// test CA issued over openssl's request from that key pair.
constexpr const char* kMakeBank = R"(set -e
softkey() { "$BIN/softkey" --dir . "$@"; }
softkey create --sn TPL --pin 12345678 >/dev/null
request() {
  softkey provision --sn TPL --no-certificate --name $1 --alg sm2 --type $2 >/dev/null
  softkey export-key --sn TPL --slot sign --container $1 > $1.key
  openssl req -new -key $1.key -subj "$3" -out $1.csr -sm3 -sigopt distid:1234567812345678
  softkey issue --format der $1.csr | tr -d '\n' > $1.der
}
request wang-forged 3 '/CN=Wang Wu/O=x,CN=Zhang San'
request zhang-plain 2 '/CN=Wang Wu/CN=Zhang San/O=x'
request li-comma 3 '/O=Bank/CN=Li, Si'
)";

class Bank {
  public:
    Bank() {
        std::string pattern = originalTemp + "/orva-subject-bank-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root_ = pattern;
        const auto made = runCommand("cd '" + root_.string() + "' && BIN='" + binFolder().string() +
                                     "' && " + kMakeBank);
        if (made.status != 0) {
            throw std::runtime_error(made.output);
        }
        token_ = softkey::Store(root_).read("TPL");
    }
    ~Bank() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string der(const char* name) const {
        return readText(root_ / (std::string(name) + ".der"));
    }
    const softkey::Token& token() const { return token_; }

  private:
    fs::path root_;
    softkey::Token token_;
};

const Bank& bank() {
    static const Bank made;
    return made;
}

class CertificateSubject : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    // Key SN1 with the named key pairs, their certificates installed as a page
    // installs them.
    void plugAndInstall(std::initializer_list<const char*> names) {
        softkey::Token token = bank().token();
        token.serial = "SN1";
        std::erase_if(token.containers, [&](const auto& entry) {
            return std::find(names.begin(), names.end(), entry.second.name) == names.end();
        });
        env_.store().create(token);
        env_.setUser(std::string(R"({"pin": ")") + kTestPin + "\"}");
        for (const char* name : names) {
            ASSERT_EQ(ORVA_API_FN(api_, QZAPI_GMWritePKCS7_Enc)(bank().der(name).c_str(), nullptr,
                                                                nullptr),
                      kSuccess)
                << name;
        }
    }
    static ByteString certificate(const char* name) {
        return *softkey::fromBase64(bank().der(name));
    }

    std::set<std::string> containersLeft() const {
        std::set<std::string> left;
        for (const auto& [index, c] : env_.key("SN1").containers) {
            left.insert(c.name);
        }
        return left;
    }

    TextResult certDns() { return callForText(ORVA_API_FN(api_, QZAPI_GMGetCertDN)); }

    // Buffer mode: the code, or the signature that verifies with openssl and
    // the certificate it carries.
    int sign(const char* signerDn, ByteString* signer = nullptr) {
        const TextResult result = callForText([&](char* buffer, int* length) {
            return ORVA_API_FN(api_, QZAPI_GMUsbKeySign)(signerDn, "SM3", kXml.data(),
                                                         static_cast<int>(kXml.size()), "",
                                                         kDisplay, "", buffer, length);
        });
        if (result.code == kSuccess) {
            const ByteString carried = signedDataCertificate(env_, result.text);
            const ByteString packet = expectedPacket(
                carried == certificate(kPlain) ? PacketForm::text : PacketForm::binary, kXml,
                kDisplay);
            EXPECT_EQ(verifySm2Signature(env_, result.text, packet, carried), "") << signerDn;
            if (signer != nullptr) {
                *signer = carried;
            }
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
        EXPECT_EQ(sign(dn), kNoMatchCertificate) << dn;
    }
    for (const char* dn : {"CN=Wang Wu", "Wang", kForgedDn, "CN=Wang Wu,O=x\\2CCN=Zhang San"}) {
        ByteString signer;
        EXPECT_EQ(sign(dn, &signer), kSuccess) << dn;
        EXPECT_EQ(signer, certificate(kForged)) << dn;
    }
}

TEST_F(CertificateSubject, TheRealHolderOfTheNameSignsBesideTheForgery) {
    plugAndInstall({kForged, kPlain});
    EXPECT_EQ(certDns().text, std::string(kForgedDn) + "||" + kPlainDn);
    ByteString signer;
    ASSERT_EQ(sign("CN=Zhang San,O=x", &signer), kSuccess);
    EXPECT_EQ(signer, certificate(kPlain));
    ASSERT_EQ(sign("CN=Wang Wu", &signer), kSuccess);
    EXPECT_EQ(signer, certificate(kForged));
    // Two subjects, not one: neither is an older copy of the other.
    int unused = 0;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMJudgeAndDelOlderDN)(&unused), 1);
    EXPECT_EQ(containersLeft(), (std::set<std::string>{kForged, kPlain}));
}

TEST_F(CertificateSubject, DeletionByNameTakesTheNameAsListed) {
    plugAndInstall({kForged, kPlain});
    const auto del = [&](const std::string& names) {
        return ORVA_API_FN(api_, QZAPI_GMDelTempKey)(names.c_str(), static_cast<int>(names.size()),
                                                     nullptr);
    };
    // The unescaped text names the plain certificate alone.
    EXPECT_EQ(del(kPlainDn), kSuccess);
    EXPECT_EQ(containersLeft(), std::set<std::string>{kForged});
    EXPECT_EQ(del(kPlainDn), kNoMatchCertificate);
    EXPECT_EQ(del("O=x\\2cCN=Zhang San,CN=Wang Wu"), kSuccess);
    EXPECT_TRUE(containersLeft().empty());
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
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(env_.root())) {
        if (entry.path().extension() == ".sig") {
            written.push_back(entry.path().filename().string());
        }
    }
    ASSERT_EQ(written.size(), 1u);
    EXPECT_TRUE(std::regex_match(written[0], std::regex("Li, Si\\.[0-9]{12}\\.[0-9]{6}\\.sig")))
        << written[0];
}

}  // namespace
}  // namespace orva::api::test
