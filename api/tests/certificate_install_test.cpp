// QZAPI_GMWritePKCS7_Enc through the built library against the software key.
// The test CA issues certificates over requests openssl makes from the
// containers' own key pairs; each must land where its key is, and an envelope's
// key pair must open what openssl encrypts to its certificate.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string>

#include "api_library.h"
#include "key_content_support.h"
#include "orva_result_codes.h"
#include "registrations.h"

namespace orva::api::test {
namespace {

constexpr const char* kTemplateSerial = "TPL";

using softkey::Bytes;

// Containers holding a signature key pair without a certificate.
constexpr const char* kSm2 = "sm2-request";          // type 3: installed, never registered
constexpr const char* kRsa1024 = "rsa1024-request";  // type 2
constexpr const char* kRsa2048 = "rsa2048-request";  // type 3
constexpr const char* kSm2Second = "sm2-second";     // type 2

// TMPDIR as the program found it: each test points it into its own folder.
const std::string originalTemp = [] {
    const char* value = getenv("TMPDIR");
    return std::string(value != nullptr && *value != '\0' ? value : "/tmp");
}();

// The bank's side: key TPL with the four containers; for each, the certificate
// the test CA issued over openssl's request from its key pair (NAME.der, and
// NAME.p7 with the CA certificate first, both base64); envelopes sealed to two.
constexpr const char* kMakeBank = R"(set -e
softkey() { "$BIN/softkey" --dir . "$@"; }
softkey create --sn TPL --pin 12345678 >/dev/null
softkey ca > ca.pem
request() {
  softkey provision --sn TPL --no-certificate --name $1 --alg $2 --type $3 >/dev/null
  softkey export-key --sn TPL --slot sign --container $1 > $1.key
  openssl req -new -key $1.key -subj /CN=$1 -out $1.csr $4
  softkey issue --format der $1.csr | tr -d '\n' > $1.der
  openssl base64 -d -A -in $1.der | openssl x509 -inform DER -out $1.pem
  openssl crl2pkcs7 -nocrl -certfile ca.pem -certfile $1.pem -outform DER | openssl base64 -A > $1.p7
}
sm2='-sm3 -sigopt distid:1234567812345678'
request sm2-request sm2 3 "$sm2"
request rsa1024-request rsa1024 2
request rsa2048-request rsa2048 3
request sm2-second sm2 2 "$sm2"
softkey envelope --sn TPL --container sm2-request | tr -d '\n' > envelope208
softkey envelope --sn TPL --alg 210 --container sm2-second --out-cert envelope.pem | tr -d '\n' > envelope210
openssl x509 -in envelope.pem -outform DER -out envelope.der
)";

// Made once per program, removed at its end.
class Bank {
  public:
    Bank() {
        std::string pattern = originalTemp + "/orva-install-bank-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root_ = pattern;
        const auto made = runCommand("cd '" + root_.string() + "' && BIN='" + binFolder().string() +
                                     "' && " + kMakeBank);
        if (made.status != 0) {
            throw std::runtime_error(made.output);
        }
        token_ = softkey::Store(root_).read(kTemplateSerial);
    }
    ~Bank() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string text(const std::string& name) const { return readText(root_ / name); }
    std::string der(const char* name) const { return text(std::string(name) + ".der"); }
    std::string p7(const char* name) const { return text(std::string(name) + ".p7"); }
    const softkey::Token& token() const { return token_; }

  private:
    fs::path root_;
    softkey::Token token_;
};

const Bank& bank() {
    static const Bank made;
    return made;
}

// A command in the test's folder; its output.
std::string inFolder(const TestEnvironment& env, const std::string& command) {
    const auto result = runCommand("cd '" + env.root().string() + "' && PATH='" +
                                   binFolder().string() + "':\"$PATH\" && " + command);
    if (result.status != 0) {
        throw std::runtime_error(command + ": " + result.output);
    }
    return result.output;
}

class CertificateInstall : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    // Key SN1 holding the named containers of the bank's key, and a user who
    // types its PIN.
    static void plug(TestEnvironment& env, std::initializer_list<const char*> names) {
        softkey::Token token = bank().token();
        token.serial = "SN1";
        std::erase_if(token.containers, [&](const auto& entry) {
            return std::find(names.begin(), names.end(), entry.second.name) == names.end();
        });
        env.store().create(token);
        env.setUser(std::string(R"({"pin": ")") + kTestPin + "\"}");
    }

    int install(const std::string& certificates, const char* envelope = nullptr,
                const char* random = nullptr) {
        return ORVA_API_FN(api_, QZAPI_GMWritePKCS7_Enc)(certificates.c_str(), envelope, random);
    }

    static const softkey::Container& container(const softkey::Token& key, const char* name) {
        for (const auto& [index, c] : key.containers) {
            if (c.name == name) {
                return c;
            }
        }
        throw std::runtime_error(std::string("no container ") + name);
    }
    static std::size_t certificatesOn(const softkey::Token& key) {
        std::size_t n = 0;
        for (const auto& [index, c] : key.containers) {
            n += (c.signature.certificate.empty() ? 0 : 1) + (c.exchange.hasKey() ? 1 : 0);
        }
        return n;
    }
    static Bytes derOf(const std::string& base64) { return *softkey::fromBase64(base64); }

    TestEnvironment env_;
    ApiLibrary api_;
    const Event event_ = statusChangeEvent();
};

TEST_F(CertificateInstall, EachCertificateGoesToTheContainerOfItsKey) {
    plug(env_, {kSm2, kRsa1024, kRsa2048});
    const std::pair<const char*, std::string> installs[] = {
        {kRsa2048, bank().p7(kRsa2048)}, {kSm2, bank().der(kSm2)}, {kRsa1024, bank().p7(kRsa1024)}};
    std::size_t installed = 0;
    for (const auto& [name, text] : installs) {
        ASSERT_EQ(install(text), kSuccess) << name;
        EXPECT_EQ(WaitForSingleObject(event_.get(), 0), WAIT_OBJECT_0) << name;
        EXPECT_EQ(WaitForSingleObject(event_.get(), 0), WAIT_TIMEOUT) << name;
        const softkey::Token key = env_.key("SN1");
        EXPECT_EQ(container(key, name).signature.certificate, derOf(bank().der(name)));
        EXPECT_EQ(certificatesOn(key), ++installed);
    }
    // Only the type-2 container's certificate is made known to the system.
    const auto registrations = pelnor::readRegistrations(env_.store());
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].certificate, derOf(bank().der(kRsa1024)));
    EXPECT_EQ(registrations[0].provider, "Korvane CSP ORVA V1.0");
    EXPECT_EQ(registrations[0].container, kRsa1024);
    EXPECT_EQ(registrations[0].keySpec, 2u);
    // Every container has its certificate now: nowhere to install.
    EXPECT_EQ(install(bank().der(kSm2)), kNothingFound);
}

TEST_F(CertificateInstall, AFailingCertificateLeavesTheKeyAsItWas) {
    plug(env_, {kSm2, kRsa1024});
    const std::string sm2 = bank().der(kSm2);
    const struct {
        const char* what;
        std::string text;
        ApiErrorCode code;
    } cases[] = {
        {"separators only", " ,\r\n||", kAnalyzeCertError},
        {"second item bad", sm2 + "||AAAA", kAnalyzeCertError},
        {"three items", sm2 + "||" + bank().p7(kRsa1024) + "||" + sm2, kTooManyCertificates},
        {"second matches no container", sm2 + "||" + bank().der(kRsa2048), kNoMatchPublicKey},
        {"two certificates of one key", sm2 + "||" + bank().p7(kSm2), kNoMatchPublicKey},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(install(c.text), c.code) << c.what;
        EXPECT_EQ(certificatesOn(env_.key("SN1")), 0u) << c.what;
        EXPECT_EQ(WaitForSingleObject(event_.get(), 0), WAIT_TIMEOUT) << c.what;
    }
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMWritePKCS7_Enc)(nullptr, nullptr, nullptr),
              kInvalidParameter);
    EXPECT_TRUE(pelnor::readRegistrations(env_.store()).empty());
    // The pair a failure refused still installs, both at once.
    ASSERT_EQ(install(sm2 + "||" + bank().p7(kRsa1024)), kSuccess);
    EXPECT_EQ(certificatesOn(env_.key("SN1")), 2u);
}

TEST_F(CertificateInstall, TheEnvelopesKeyPairOpensWhatOpensslSealsToItsCertificate) {
    plug(env_, {kSm2, kSm2Second});
    // The key's random, which the page hands back as the server's.
    const Bytes random = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    env_.changeKey("SN1", [&](softkey::Token& t) { t.randomForEnc = random; });
    // Registration failing changes nothing.
    env_.setFaults(R"({"fail": {"AuxRegUserCert": "0x8000001D"}})");
    ASSERT_EQ(install(bank().der(kSm2) + "||" + bank().der(kSm2Second),
                      bank().text("envelope210").c_str(), softkey::toBase64(random).c_str()),
              kSuccess);
    EXPECT_EQ(WaitForSingleObject(event_.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event_.get(), 0), WAIT_TIMEOUT);

    // Only the last certificate's container receives the pair, as its exchange key.
    const softkey::Token key = env_.key("SN1");
    EXPECT_FALSE(container(key, kSm2).exchange.hasKey());
    const softkey::KeySlot& exchange = container(key, kSm2Second).exchange;
    EXPECT_EQ(exchange.algorithm, 10u);
    const std::string issued = bank().text("envelope.der");
    EXPECT_EQ(exchange.certificate, Bytes(issued.begin(), issued.end()));

    // openssl encrypts to the installed certificate; the pair the key holds opens it.
    inFolder(env_,
             std::string("printf 'the bank secret' > message && ") +
                 "softkey export-key --sn SN1 --slot exchange --container sm2-second > k && " +
                 "softkey export-cert --sn SN1 --slot exchange --container sm2-second > c && " +
                 "openssl pkeyutl -encrypt -certin -inkey c -in message -out sealed");
    EXPECT_EQ(inFolder(env_, "openssl pkeyutl -decrypt -inkey k -in sealed"), "the bank secret");
    EXPECT_TRUE(pelnor::readRegistrations(env_.store()).empty());
}

TEST_F(CertificateInstall, EnvelopeFailuresComeWithTheirCodes) {
    const std::string envelope = bank().text("envelope208");
    const std::string certificateOnly = envelope.substr(0, envelope.find("||")) + "||00";
    const struct {
        const char* what;
        std::string envelope;
        const char* random;
        const char* user;    // the person at the key, else one who types the PIN
        const char* faults;  // faults.json, else none
        ApiErrorCode code;
        bool written;  // the certificate reached the key before the failure
    } cases[] = {
        {"no random: nothing to compare", envelope, nullptr, nullptr, nullptr, kSuccess, true},
        {"no key parts", certificateOnly, nullptr, nullptr, nullptr, kWriteCertError, true},
        {"another random", envelope, "AAECAwQFBgcICQoLDA0O", nullptr, nullptr, kWriteCertError,
         true},
        {"PIN entry cancelled", envelope, nullptr, R"({"button": "cancel"})", nullptr, kUserCancel,
         true},
        {"PIN refused", envelope, nullptr, nullptr, R"({"fail": {"QZVerifyPIN": "0x6F00"}})",
         kDeletePublicKeyError, true},
        {"binding refused", envelope, nullptr, nullptr,
         R"({"fail": {"QZBindPriKeyToContainer": "0x6A82"}})", kAddAsymKeyToContainerError, true},
        {"no free key file", envelope, nullptr, nullptr,
         R"({"fail": {"QZGetFreePriKeyFID": "0x6A84"}})", kGetAsymKeyError, true},
        {"six fields", envelope + "||AAAA", nullptr, nullptr, nullptr, kInvalidParameter, false},
        {"random of 16 bytes", envelope, "AAECAwQFBgcICQoLDA0ODw==", nullptr, nullptr,
         kInvalidParameter, false},
        {"random outside the alphabet", envelope, "AAECAwQFBgcICQoLDA0*", nullptr, nullptr,
         kBase64DecodeError, false},
    };
    for (const auto& c : cases) {
        TestEnvironment env;
        plug(env, {kSm2});
        env.changeKey("SN1", [](softkey::Token& t) { t.randomForEnc = Bytes(15, 0xAB); });
        if (c.user != nullptr) {
            env.setUser(c.user);
        }
        if (c.faults != nullptr) {
            env.setFaults(c.faults);
        }
        EXPECT_EQ(install(bank().der(kSm2), c.envelope.c_str(), c.random), c.code) << c.what;
        const softkey::Token key = env.key("SN1");
        const softkey::Container& target = container(key, kSm2);
        EXPECT_EQ(target.signature.certificate.empty(), !c.written) << c.what;
        EXPECT_EQ(target.exchange.hasKey(), c.code == kSuccess) << c.what;
        // A change that stays on the key is announced, even after a failure.
        EXPECT_EQ(WaitForSingleObject(event_.get(), 0), c.written ? WAIT_OBJECT_0 : WAIT_TIMEOUT)
            << c.what;
    }
}

}  // namespace
}  // namespace orva::api::test
