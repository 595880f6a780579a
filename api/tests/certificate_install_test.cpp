// QZAPI_GMWritePKCS7_Enc through the built library against the software key.
// The test CA issues certificates over requests openssl makes from the
// containers' own key pairs; each must land where its key is, and an envelope's
// key pair must open what openssl encrypts to its certificate.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <type_traits>

#include "api_library.h"
#include "orva_result_codes.h"
#include "registrations.h"
#include "win32/event.h"

namespace orva::api::test {
namespace {

constexpr const char* kEventName = "ZEDIDUzaZavi_Status_Change_Event_Korvane CSP ORVA V1.0";
constexpr const char* kTemplateSerial = "TPL";

using softkey::Bytes;

// Containers holding a signature key pair without a certificate.
constexpr const char* kSm2 = "sm2-request";          // type 3: installed, never registered
constexpr const char* kRsa1024 = "rsa1024-request";  // type 2
constexpr const char* kRsa2048 = "rsa2048-request";  // type 3
constexpr const char* kSm2Second = "sm2-second";     // type 2

struct HandleClose {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using Event = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

void run(const std::string& command) {
    const auto result = runCommand(command);
    if (result.status != 0) {
        throw std::runtime_error(command + ": " + result.output);
    }
}

std::string softkeyTool(const std::string& args) {
    const auto result = runCommand("'" + (binFolder() / "softkey").string() + "' " + args);
    if (result.status != 0) {
        throw std::runtime_error("softkey " + args + ": " + result.output);
    }
    std::string out = result.output;
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

// TMPDIR as the program found it: each test points it into its own folder.
const std::string originalTemp = [] {
    const char* value = getenv("TMPDIR");
    return std::string(value != nullptr && *value != '\0' ? value : "/tmp");
}();

// The bank's side, once per program: a key with the four containers, the
// certificates the test CA issued over their requests (bare DER, and PKCS#7
// with the CA certificate first, base64), and envelopes sealed to two of them.
class Bank {
  public:
    Bank() {
        std::string pattern = originalTemp + "/orva-install-bank-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root_ = pattern;
        const std::string store = "--dir '" + root_.string() + "' ";
        softkeyTool(store + "create --sn " + kTemplateSerial + " --pin " + kTestPin);
        writeFile(file("ca.pem"), softkeyTool(store + "ca"));
        const std::pair<const char*, const char*> containers[] = {{kSm2, "sm2 --type 3"},
                                                                  {kRsa1024, "rsa1024 --type 2"},
                                                                  {kRsa2048, "rsa2048 --type 3"},
                                                                  {kSm2Second, "sm2 --type 2"}};
        for (const auto& [name, kind] : containers) {
            softkeyTool(store + "provision --sn TPL --no-certificate --name " + name + " --alg " +
                        kind);
            const std::string base = file(name);
            writeFile(base + ".key",
                      softkeyTool(store + "export-key --sn TPL --slot sign --container " + name));
            const bool sm2 = std::string_view(kind).starts_with("sm2");
            run("openssl req -new -key '" + base + ".key' -subj /CN=" + name + " -out '" + base +
                ".csr'" + (sm2 ? " -sm3 -sigopt distid:1234567812345678" : ""));
            der_[name] = softkeyTool(store + "issue --format der '" + base + ".csr'");
            writeFile(base + ".der", *softkey::fromBase64(der_[name]));
            run("openssl x509 -inform DER -in '" + base + ".der' -out '" + base + ".pem'");
            run("openssl crl2pkcs7 -nocrl -certfile '" + file("ca.pem") + "' -certfile '" + base +
                ".pem' -outform DER -out '" + base + ".p7'");
            p7_[name] = softkey::toBase64(readFile(base + ".p7"));
        }
        envelope208_ = softkeyTool(store + "envelope --sn TPL --container " + kSm2);
        envelope210_ = softkeyTool(store + "envelope --sn TPL --alg 210 --container " + kSm2Second +
                                   " --out-cert '" + file("envelope.pem") + "'");
        token_ = softkey::Store(root_).read(kTemplateSerial);
    }
    ~Bank() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string file(const std::string& name) const { return (root_ / name).string(); }
    const std::string& der(const char* name) const { return der_.at(name); }
    const std::string& p7(const char* name) const { return p7_.at(name); }
    const std::string& envelope208() const { return envelope208_; }
    const std::string& envelope210() const { return envelope210_; }
    const softkey::Token& token() const { return token_; }

  private:
    fs::path root_;
    std::map<std::string, std::string, std::less<>> der_;
    std::map<std::string, std::string, std::less<>> p7_;
    std::string envelope208_;
    std::string envelope210_;
    softkey::Token token_;
};

const Bank& bank() {
    static const Bank made;
    return made;
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
    const Event event_{CreateEventA(nullptr, FALSE, FALSE, kEventName)};
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
        {"empty", "", kAnalyzeCertError},
        {"separators only", " ,\r\n||", kAnalyzeCertError},
        {"second item bad", sm2 + "||AAAA", kAnalyzeCertError},
        {"three items", sm2 + "||" + bank().p7(kRsa1024) + "||" + sm2, kTooManyCertificates},
        {"second matches no container", sm2 + "||" + bank().der(kRsa2048), kNoMatchPublicKey},
        {"two certificates of one key", sm2 + "||" + bank().p7(kSm2), kNoMatchPublicKey},
        {"a key of another key", bank().der(kSm2Second), kNoMatchPublicKey},
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
                      bank().envelope210().c_str(), softkey::toBase64(random).c_str()),
              kSuccess);
    EXPECT_EQ(WaitForSingleObject(event_.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event_.get(), 0), WAIT_TIMEOUT);

    // Only the last certificate's container receives the pair, as its exchange key.
    const softkey::Token key = env_.key("SN1");
    EXPECT_FALSE(container(key, kSm2).exchange.hasKey());
    const softkey::KeySlot& exchange = container(key, kSm2Second).exchange;
    EXPECT_EQ(exchange.algorithm, 10u);
    run("openssl x509 -in '" + bank().file("envelope.pem") + "' -outform DER -out '" +
        (env_.root() / "envelope.der").string() + "'");
    EXPECT_EQ(exchange.certificate, readFile(env_.root() / "envelope.der"));

    // openssl encrypts to the installed certificate; the pair the key holds opens it.
    const std::string dir = "cd '" + env_.root().string() + "' && ";
    env_.writeFile("message", "the bank's secret");
    writeFile(
        env_.root() / "installed.key",
        softkeyTool("export-key --sn SN1 --slot exchange --container " + std::string(kSm2Second)));
    writeFile(
        env_.root() / "installed.pem",
        softkeyTool("export-cert --sn SN1 --slot exchange --container " + std::string(kSm2Second)));
    run(dir + "openssl pkeyutl -encrypt -certin -inkey installed.pem -in message -out sealed");
    run(dir + "openssl pkeyutl -decrypt -inkey installed.key -in sealed -out opened");
    EXPECT_EQ(readText(env_.root() / "opened"), "the bank's secret");
    EXPECT_TRUE(pelnor::readRegistrations(env_.store()).empty());
}

TEST_F(CertificateInstall, EnvelopeFailuresComeWithTheirCodes) {
    const std::string envelope = bank().envelope208();
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
        {"random not whole", envelope, "AAECAwQFBgcICQoLDA0OD", nullptr, nullptr,
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
        const softkey::Container& target = container(env.key("SN1"), kSm2);
        EXPECT_EQ(target.signature.certificate.empty(), !c.written) << c.what;
        EXPECT_EQ(target.exchange.hasKey(), c.code == kSuccess) << c.what;
        // A change that stays on the key is announced, even after a failure.
        EXPECT_EQ(WaitForSingleObject(event_.get(), 0), c.written ? WAIT_OBJECT_0 : WAIT_TIMEOUT)
            << c.what;
    }
}

}  // namespace
}  // namespace orva::api::test
