// The softkey tool end to end: the built program on a store of each test's own,
// checked through the store's own readers, QZAlgLib's certificate decoder and the
// openssl command line.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "crypto_test_support.h"
#include "envelope.h"
#include "faults.h"
#include "json.h"
#include "key_crypto.h"
#include "maker/qzalglib.h"
#include "store.h"
#include "store_test_support.h"
#include "token.h"
#include "user.h"

namespace orva::softkey {
namespace {

using test::readText;
using test::TempDir;
using test::writeFile;

using Result = orva::testing::ProgramResult;

constexpr const char* kSubject = "CN=Zhang San,OU=Unit,O=Bank";
constexpr const char* kCaSubject = "CN=ORVA Softkey Test CA,O=ORVA Softkey";

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = text.find(separator, at);
        out.push_back(text.substr(at, end - at));
        if (end == std::string::npos) {
            return out;
        }
        at = end + separator.size();
    }
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

class SoftkeyToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tmp = std::getenv("TMPDIR")) {
            savedTmp_ = tmp;
        }
        ::setenv("ORVA_SOFTKEY_DIR", dir_.file("store").c_str(), 1);
        ::setenv("TMPDIR", dir_.file("").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("ORVA_SOFTKEY_DIR");
        if (savedTmp_) {
            ::setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    // Runs the built tool with stdout and stderr kept apart.
    Result run(const std::vector<std::string>& args) const {
        return orva::testing::runProgram(SOFTKEY_TOOL, args);
    }

    // Runs a command that must succeed; its output.
    std::string ok(const std::vector<std::string>& args) const {
        const Result r = run(args);
        EXPECT_EQ(r.exit, 0) << args.at(0) << ": " << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    // A failure is one line on stderr, "softkey: ...", holding what.
    void fails(const std::vector<std::string>& args, int exit, const std::string& what) const {
        const Result r = run(args);
        EXPECT_EQ(r.exit, exit) << args.at(0) << ": " << r.out;
        EXPECT_TRUE(r.err.starts_with("softkey: ")) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
    }

    Store store() const { return Store(dir_.file("store")); }

    std::string openssl(const std::string& args) const {
        const auto run = test::openssl(args);
        EXPECT_EQ(run.status, 0) << args << "\n" << run.output;
        return run.output;
    }

    // Saves a command's output as a file of the test folder; its path.
    std::string save(const std::string& name, const std::string& text) const {
        writeFile(dir_.file(name), text);
        return dir_.arg(name);
    }

    // A container of type 3 on a key (made if needed); the container's index.
    std::string provisioned(const std::string& serial, const std::string& alg) const {
        if (!store().placeOf(serial)) {
            ok({"create", "--sn", serial});
        }
        return trimmed(ok(provision(serial, alg)));
    }

    static std::vector<std::string> provision(const std::string& serial, const std::string& alg,
                                              const std::string& subject = kSubject,
                                              const std::string& type = "3") {
        return {"provision", "--sn", serial, "--alg", alg, "--type", type, "--subject", subject};
    }

    std::string subjectOf(const std::string& name, const std::string& inform = "PEM") const {
        return openssl("x509 -inform " + inform + " -in " + dir_.arg(name) +
                       " -noout -subject -nameopt RFC2253");
    }

    bool caVerifies(const std::string& ca, const std::string& name) const {
        return openssl("verify -CAfile " + ca + " " + dir_.arg(name)) == dir_.file(name) + ": OK\n";
    }

    TempDir dir_;
    std::optional<std::string> savedTmp_;
};

// --- command line ------------------------------------------------------------

TEST_F(SoftkeyToolTest, HelpForEveryCommandAndUsageErrors) {
    const std::string help = ok({"--help"});
    const char* commands[] = {"create", "list",      "show",        "plug",        "unplug",
                              "delete", "provision", "ca",          "issue",       "envelope",
                              "user",   "display",   "admin-state", "pin",         "languages",
                              "fault",  "trace",     "export-key",  "export-cert", "registered"};
    for (const char* command : commands) {
        EXPECT_NE(help.find(std::string("  ") + command), std::string::npos) << command;
        const std::string own = ok({command, "--help"});
        EXPECT_TRUE(own.starts_with(std::string("Usage: softkey [--dir DIR] ") + command)) << own;
    }
    // --help changes nothing, even after other words.
    ok({"create", "--sn", "NEVER", "--help"});
    EXPECT_FALSE(store().placeOf("NEVER"));

    fails({}, 2, "missing COMMAND");
    fails({"frobnicate"}, 2, "unknown command");
    fails({"--verbose", "list"}, 2, "unknown option");
    fails({"create", "--colour", "red"}, 2, "takes no option --colour");
    fails({"create", "--sn"}, 2, "--sn needs a value");
    fails({"create", "--sn", "A", "--sn", "B"}, 2, "given twice");
    fails({"create", "--default-pin=yes"}, 2, "takes no value");
    fails({"show"}, 2, "usage: softkey show");
    fails({"show", "A", "B"}, 2, "usage: softkey show");
    fails(provision("A", "dsa", "CN=x"), 2, "--alg must be sm2, rsa1024 or rsa2048");
    fails({"create", "--capacity", "256"}, 2, "--capacity must be a number from 1 to 255");
}

// --- keys --------------------------------------------------------------------

TEST_F(SoftkeyToolTest, CreateListPlugUnplugDeleteAndPins) {
    EXPECT_EQ(ok({"create", "--sn", "KEY-1", "--label", "Desk key"}), "KEY-1\n");
    const std::string generated = trimmed(ok({"create"}));
    EXPECT_TRUE(std::regex_match(generated, std::regex("SK[0-9]{10}"))) << generated;
    fails({"create", "--sn", "KEY-1"}, 1, "exists");
    fails({"create", "--sn", "bad/serial"}, 2, "not a valid serial");
    fails({"create", "--pin", ""}, 2, "a PIN has 1 to 64 bytes");

    EXPECT_EQ(ok({"list"}), "KEY-1\tpresent\t0\tDesk key\n" + generated + "\tpresent\t0\t\n");
    ok({"unplug", "KEY-1"});
    EXPECT_EQ(store().placeOf("KEY-1"), KeyPlace::removed);
    ok({"unplug", "KEY-1"});  // pulling out a pulled-out key changes nothing
    EXPECT_NE(ok({"list"}).find("KEY-1\tremoved\t0\tDesk key\n"), std::string::npos);
    EXPECT_NE(ok({"show", "KEY-1"}).find("place: removed\n"), std::string::npos);
    ok({"plug", "KEY-1"});
    EXPECT_EQ(store().placeOf("KEY-1"), KeyPlace::present);

    ok({"delete", generated});
    EXPECT_FALSE(store().placeOf(generated));
    fails({"show", generated}, 1, "no key");
    fails({"plug", "NOPE"}, 1, "no key");

    ok({"create", "--sn", "OWNED", "--pin", "246810"});
    ok({"create", "--sn", "FRESH", "--default-pin", "--capacity", "2"});
    const Token owned = store().read("OWNED");
    EXPECT_TRUE(pinMatches(owned, "246810"));
    EXPECT_FALSE(owned.pin.isDefault);
    const Token fresh = store().read("FRESH");
    EXPECT_TRUE(pinMatches(fresh, "12345678"));
    EXPECT_TRUE(fresh.pin.isDefault);
    EXPECT_EQ(fresh.capacity, 2u);

    // The store comes from --dir, else the environment.
    const std::string other = dir_.file("other");
    ok({"--dir", other, "create", "--sn", "D1"});
    ok({"create", "--sn", "D2", "--dir=" + other});
    EXPECT_EQ(Store(other).serials(KeyPlace::present), (std::vector<std::string>{"D1", "D2"}));
    EXPECT_EQ(store().serials(KeyPlace::present),
              (std::vector<std::string>{"FRESH", "KEY-1", "OWNED"}));
}

TEST_F(SoftkeyToolTest, KeySettingsReachTheStore) {
    ok({"create", "--sn", "K"});
    ok({"admin-state", "--sn", "K", "2"});
    EXPECT_EQ(adminKeyRecord(store().read("K")).substr(2, 2), "01");
    EXPECT_EQ(ok({"admin-state"}), "2\n");  // the only key plugged in
    fails({"admin-state", "3"}, 2, "the admin state must be a number from 1 to 2");

    ok({"pin", "--sn", "K", "--tries", "0"});
    EXPECT_EQ(store().read("K").pin.triesLeft, 0u);
    EXPECT_EQ(ok({"pin", "--sn", "K"}), "tries left: 0 of 6\ndefault pin: no\n");
    fails({"pin", "--sn", "K", "--tries", "7"}, 2, "at most 6");
    ok({"pin", "--sn", "K", "--reset", "9999", "--default"});
    Token k = store().read("K");
    EXPECT_TRUE(pinMatches(k, "9999"));
    EXPECT_EQ(k.pin.triesLeft, 6u);
    EXPECT_TRUE(k.pin.isDefault);
    ok({"pin", "--sn", "K", "--changed"});
    EXPECT_FALSE(store().read("K").pin.isDefault);
    fails({"pin", "--sn", "K", "--default", "--changed"}, 2, "exclude each other");

    ok({"languages", "--sn", "K", "1,2,9"});
    EXPECT_EQ(store().read("K").languages, (std::vector<std::uint8_t>{1, 2, 9}));
    EXPECT_EQ(ok({"languages", "--sn", "K"}), "1,2,9\n");
    fails({"languages", "--sn", "K", "1,,2"}, 2, "a language code");
    fails({"languages", "--sn", "K", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17"}, 2, "at most 16");

    ok({"create", "--sn", "L"});
    fails({"admin-state", "1"}, 2, "2 keys are plugged in");
}

TEST_F(SoftkeyToolTest, KeySettingsKeepFieldsOfALaterVersion) {
    ok({"create", "--sn", "K"});
    Store keys = store();
    keys.update("K", false, [](Token& t) { addContainer(t, "c1"); });
    const std::string path = keys.keyPath("K", KeyPlace::present).string();
    test::addLaterFields(path);
    const std::vector<std::vector<std::string>> settings = {
        {"languages", "--sn", "K", "1,2,9"},
        {"pin", "--sn", "K", "--tries", "3"},
        {"admin-state", "--sn", "K", "2"},
    };
    for (const auto& args : settings) {
        const std::string before = readText(path);
        ok(args);
        EXPECT_NE(readText(path), before) << args.at(0) << " wrote nothing";
        EXPECT_TRUE(test::keepsLaterFields(path)) << args.at(0) << ":\n" << readText(path);
    }
}

// --- provisioning and certificates ---------------------------------------------

TEST_F(SoftkeyToolTest, ProvisionedCertificatesComeFromThePrivateTestCa) {
    const std::string ca = save("ca.pem", ok({"ca"}));
    struct Case {
        const char* alg;
        std::uint32_t algId;
    };
    for (const Case c :
         {Case{"sm2", kAlgSm2}, Case{"rsa1024", kAlgRsa1024}, Case{"rsa2048", kAlgRsa2048}}) {
        SCOPED_TRACE(c.alg);
        const std::string index = provisioned("P", c.alg);
        const std::string cert = save(
            "cert.pem", ok({"export-cert", "--sn", "P", "--container", index, "--slot", "sign"}));
        // Written most specific first, the DER name lists O first.
        EXPECT_EQ(openssl("x509 -in " + cert + " -noout -subject -issuer -nameopt RFC2253"),
                  std::string("subject=") + kSubject + "\nissuer=" + kCaSubject + "\n");
        EXPECT_EQ(openssl("x509 -in " + cert + " -noout -subject"),
                  "subject=O = Bank, OU = Unit, CN = Zhang San\n");
        EXPECT_TRUE(caVerifies(ca, "cert.pem"));

        // The certificate is the stored key's, and the key file matches the key.
        const std::string key =
            ok({"export-key", "--sn", "P", "--container", index, "--slot", "sign"});
        EXPECT_EQ(openssl("pkey -in " + save("key.pem", key) + " -pubout"),
                  openssl("x509 -in " + cert + " -noout -pubkey"));
        const Token t = store().read("P");
        const Container& container = t.containers.at(static_cast<std::uint32_t>(std::stoul(index)));
        EXPECT_EQ(container.type, 3u);
        EXPECT_EQ(container.usage, 2u);
        EXPECT_EQ(container.signature.algorithm, c.algId);
        EXPECT_FALSE(container.exchange.hasKey());
        const KeyFile& file = t.keyFiles.at(container.signature.privateFid);
        EXPECT_EQ(file.publicFile, publicKeyFile(SecureString(key.begin(), key.end())));
        EXPECT_TRUE(std::regex_match(
            container.name,
            std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
            << container.name;
    }
    EXPECT_EQ(ok({"ca"}), readText(dir_.file("ca.pem")));  // made once, then kept

    struct stat st {};
    ASSERT_EQ(::stat(dir_.file("store/ca/ca.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(openssl("x509 -in " + ca + " -noout -ext basicConstraints,keyUsage")
                  .find("Certificate Sign"),
              std::string::npos);
    writeFile(dir_.file("store/ca/ca.key"), std::string_view("not a key"));
    fails({"ca"}, 1, "is damaged");
}

TEST_F(SoftkeyToolTest, ProvisionWithExchangeKeyAndOwnName) {
    ok({"create", "--sn", "X"});
    EXPECT_EQ(ok({"provision", "--sn", "X", "--alg", "sm2", "--type", "2", "--subject", kSubject,
                  "--with-exchange", "--name", "bank-container"}),
              "1\n");
    const Token t = store().read("X");
    const Container& c = t.containers.at(1);
    EXPECT_EQ(c.name, "bank-container");
    EXPECT_EQ(c.type, 2u);
    EXPECT_EQ(c.exchange.algorithm, kAlgSm2);
    EXPECT_EQ(c.exchange.publicFid(), c.exchange.privateFid + 1);
    EXPECT_NE(c.exchange.privateFid, c.signature.privateFid);

    const std::string cert = save("enc.pem", ok({"export-cert", "--sn", "X", "--container",
                                                 "bank-container", "--slot", "exchange"}));
    EXPECT_NE(openssl("x509 -in " + cert + " -noout -ext keyUsage").find("Key Encipherment"),
              std::string::npos);
    EXPECT_TRUE(caVerifies(save("ca.pem", ok({"ca"})), "enc.pem"));
}

TEST_F(SoftkeyToolTest, ProvisionWithoutCertificateLeavesTheKeyAsARequestDoes) {
    ok({"create", "--sn", "R"});
    ok({"provision", "--sn", "R", "--alg", "rsa1024", "--type", "2", "--no-certificate"});
    const Token t = store().read("R");
    const Container& c = t.containers.at(1);
    EXPECT_EQ(c.signature.algorithm, kAlgRsa1024);
    EXPECT_TRUE(c.signature.certificate.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_.file("store/ca")));  // no CA needed
    fails({"export-cert", "--sn", "R", "--container", "1", "--slot", "sign"}, 1,
          "has no sign certificate");
    for (const char* extra : {"--subject=CN=x", "--with-exchange", "--days=3"}) {
        fails({"provision", "--sn", "R", "--alg", "sm2", "--type", "3", "--no-certificate", extra},
              2, "--no-certificate takes no");
    }
}

TEST_F(SoftkeyToolTest, ProvisionKeepsUtf8SubjectsAndShowsThem) {
    ok({"create", "--sn", "U"});
    ok({"provision", "--sn", "U", "--alg", "sm2", "--type", "3", "--subject",
        "CN=张三,OU=个人,O=银行", "--name", "c1"});
    const std::string shown = ok({"show", "U", "--json"});
    const json::Ptr doc = json::parse(shown);
    ASSERT_NE(doc, nullptr) << shown;
    const cJSON* container = cJSON_GetArrayItem(json::member(doc.get(), "containers"), 0);
    EXPECT_EQ(json::uint(container, "index"), 1u);
    EXPECT_EQ(json::string(container, "name"), "c1");
    EXPECT_EQ(json::uint(container, "type"), 3u);
    const cJSON* signature = json::member(container, "signature");
    EXPECT_EQ(json::string(signature, "algorithmName"), "sm2");
    EXPECT_EQ(json::string(json::member(signature, "certificate"), "subject"),
              "CN=张三,OU=个人,O=银行");
    EXPECT_TRUE(cJSON_IsNull(json::member(json::member(container, "exchange"), "certificate")));
    EXPECT_EQ(json::boolean(json::member(doc.get(), "pin"), "defaultPin"), false);

    const std::string text = ok({"show", "U"});
    EXPECT_NE(text.find("container: 1\n  name: c1\n  type: 3\n  usage: 2\n"
                        "  signature key: sm2\n  signature key files: 1 2\n"
                        "  signature certificate: CN=张三,OU=个人,O=银行\n"
                        "  exchange key: none\n  exchange certificate: none\n"),
              std::string::npos)
        << text;
}

// The key's certificate decoder reads back the very subject text provision took.
TEST_F(SoftkeyToolTest, QzAlgLibReadsBackTheSubjectAsWritten) {
    ok({"create", "--sn", "Q"});
    for (const std::string subject :
         {"CN=Zhang San,OU=Unit,O=Bank", "CN=张三,OU=个人,O=银行,L=北京,C=CN",
          "E=zs@example.com,CN=Zhang San", "CN=Only"}) {
        SCOPED_TRACE(subject);
        const std::string index = trimmed(ok(provision("Q", "sm2", subject)));
        const Bytes der = store()
                              .read("Q")
                              .containers.at(static_cast<std::uint32_t>(std::stoul(index)))
                              .signature.certificate;
        char decoded[1024] = {};
        ASSERT_EQ(QZA_DecodeX509Cert(der.data(), static_cast<std::uint32_t>(der.size()), nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, decoded, nullptr,
                                     nullptr, nullptr, nullptr),
                  0);
        EXPECT_EQ(std::string(decoded), subject);
    }
}

TEST_F(SoftkeyToolTest, ProvisionRefusalsChangeNothing) {
    ok({"create", "--sn", "F", "--capacity", "1"});
    provisioned("F", "sm2");
    const SecureString before = tokenToJson(store().read("F"));
    fails(provision("F", "sm2"), 1, "no more containers");
    fails(provision("F", "sm2", kSubject, "5"), 2, "--type");
    fails(provision("F", "sm2", "CN"), 2, "not NAME=value");
    fails(provision("F", "sm2", "XX=1"), 2, "unknown subject attribute");
    fails(provision("F", "sm2", "C=China"), 2, "does not suit");
    EXPECT_EQ(tokenToJson(store().read("F")), before);
    fails(provision("NONE", "sm2"), 1, "no key NONE");
    fails({"export-key", "--sn", "F", "--container", "9", "--slot", "sign"}, 1,
          "has no container '9'");
    fails({"export-key", "--sn", "F", "--container", "1", "--slot", "exchange"}, 1,
          "no exchange key");
}

// --- issuing for requests -------------------------------------------------------

TEST_F(SoftkeyToolTest, IssuesForRsaRequestsInEveryInputForm) {
    const std::string ca = save("ca.pem", ok({"ca"}));
    openssl("req -newkey rsa:2048 -nodes -keyout " + dir_.arg("r.key") +
            " -subj /O=Bank/CN=RSA\\ User -out " + dir_.arg("r.pem"));
    openssl("req -in " + dir_.arg("r.pem") + " -outform DER -out " + dir_.arg("r.der"));
    const Bytes der = test::readFile(dir_.file("r.der"));
    writeFile(dir_.file("r.b64"), toBase64(der).insert(40, "\n") + "\n");

    for (const char* form : {"r.pem", "r.der", "r.b64"}) {
        SCOPED_TRACE(form);
        // The bag: our certificate first, then the CA's.
        const std::string p7 = trimmed(ok({"issue", dir_.file(form)}));
        writeFile(dir_.file("p7.der"), *fromBase64(p7));
        const std::string certs =
            openssl("pkcs7 -inform DER -in " + dir_.arg("p7.der") + " -print_certs -noout");
        EXPECT_EQ(certs,
                  "subject=O = Bank, CN = RSA User\nissuer=O = ORVA Softkey, CN = ORVA Softkey "
                  "Test CA\n\nsubject=O = ORVA Softkey, CN = ORVA Softkey Test CA\nissuer=O = "
                  "ORVA Softkey, CN = ORVA Softkey Test CA\n\n");
    }
    const std::string cert = trimmed(ok({"issue", dir_.file("r.pem"), "--format", "der"}));
    writeFile(dir_.file("cert.der"), *fromBase64(cert));
    openssl("x509 -inform DER -in " + dir_.arg("cert.der") + " -out " + dir_.arg("cert.pem"));
    EXPECT_TRUE(caVerifies(ca, "cert.pem"));
    EXPECT_EQ(openssl("x509 -in " + dir_.arg("cert.pem") + " -noout -pubkey"),
              openssl("pkey -in " + dir_.arg("r.key") + " -pubout"));
}

TEST_F(SoftkeyToolTest, IssuesForSm2RequestsSignedWithTheStandardUserId) {
    openssl("genpkey -algorithm SM2 -out " + dir_.arg("sm2.key"));
    openssl("req -new -key " + dir_.arg("sm2.key") +
            " -subj /O=Bank/OU=Unit/CN=Zhang\\ San -sm3 -sigopt distid:1234567812345678 -outform "
            "DER -out " +
            dir_.arg("good.der"));
    const std::string cert = trimmed(ok({"issue", dir_.file("good.der"), "--format", "der"}));
    writeFile(dir_.file("cert.der"), *fromBase64(cert));
    EXPECT_EQ(subjectOf("cert.der", "DER"), std::string("subject=") + kSubject + "\n");

    // Another user id, or a damaged signature, is refused.
    openssl("req -new -key " + dir_.arg("sm2.key") +
            " -subj /CN=x -sm3 -sigopt distid:1111111111111111 -outform DER -out " +
            dir_.arg("other-id.der"));
    fails({"issue", dir_.file("other-id.der")}, 1, "signature does not verify");
    Bytes damaged = test::readFile(dir_.file("good.der"));
    damaged[damaged.size() - 5] ^= 0x01;
    writeFile(dir_.file("damaged.der"), damaged);
    fails({"issue", dir_.file("damaged.der")}, 1, "signature does not verify");
    writeFile(dir_.file("junk"), std::string_view("no request here"));
    fails({"issue", dir_.file("junk")}, 1, "is not a PKCS#10 request");
    fails({"issue", dir_.file("absent")}, 1, "cannot open");
    fails({"issue", dir_.file("good.der"), "--format", "pem"}, 2, "--format must be p7 or der");
}

// --- envelopes ---------------------------------------------------------------------

TEST_F(SoftkeyToolTest, EnvelopesOpenWithTheContainersSignatureKey) {
    const std::string ca = save("ca.pem", ok({"ca"}));
    for (const char* alg : {"sm2", "rsa1024", "rsa2048"}) {
        const std::string index = provisioned("E", alg);
        const SecureString signatureKey =
            test::secure(ok({"export-key", "--sn", "E", "--container", index, "--slot", "sign"}));
        for (const std::uint32_t word : {kEnvelopeSm4Ecb, kEnvelopeSm4Cbc}) {
            SCOPED_TRACE(std::string(alg) + " " + std::to_string(word));
            const std::string text = trimmed(
                ok({"envelope", "--sn", "E", "--container", index, "--alg", std::to_string(word),
                    "--out-key", dir_.file("new.key"), "--out-cert", dir_.file("new.pem")}));
            const std::vector<std::string> fields = split(text, "||");
            ASSERT_EQ(fields.size(), 5u) << text;
            EXPECT_EQ(fields[1], word == kEnvelopeSm4Cbc ? "01" : "00");
            // Within the room the install call gives each field.
            EXPECT_LE(fields[0].size(), 5464u);
            EXPECT_LE(fields[2].size(), 684u);
            EXPECT_LE(fields[3].size(), 344u);
            EXPECT_LE(fields[4].size(), 8u);

            const SecureString opened =
                openEnvelope(signatureKey, word, *fromBase64(fields[2]), *fromBase64(fields[3]),
                             *fromBase64(fields[4]));
            const SecureString newKey = test::secure(readText(dir_.file("new.key")));
            EXPECT_EQ(publicKeyFile(opened), publicKeyFile(newKey));

            // The certificate is for the new key, from the CA, as written to --out-cert.
            writeFile(dir_.file("field.der"), *fromBase64(fields[0]));
            EXPECT_EQ(openssl("x509 -inform DER -in " + dir_.arg("field.der")),
                      readText(dir_.file("new.pem")));
            EXPECT_EQ(openssl("x509 -in " + dir_.arg("new.pem") + " -noout -pubkey"),
                      publicKeyPem(newKey));
            EXPECT_EQ(subjectOf("new.pem"), std::string("subject=") + kSubject + "\n");
            EXPECT_TRUE(caVerifies(ca, "new.pem"));
            struct stat st {};
            ASSERT_EQ(::stat(dir_.file("new.key").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
    }
}

TEST_F(SoftkeyToolTest, EnvelopeNeedsASignatureKey) {
    ok({"create", "--sn", "N"});
    Store s = store();
    s.update("N", false, [](Token& t) { addContainer(t, "empty"); });
    fails({"envelope", "--sn", "N", "--container", "empty"}, 1, "has no signature key");
    fails({"envelope", "--sn", "N", "--container", "2"}, 1, "has no container '2'");
    fails({"envelope", "--sn", "N", "--container", "1", "--alg", "209"}, 2,
          "--alg must be 208 or 210");
    // Without a signature certificate the subject comes from the option or the name.
    const std::string index = trimmed(ok(provision("N", "sm2")));
    s.update("N", false, [](Token& t) { t.containers.at(2).signature.certificate.clear(); });
    ok({"envelope", "--sn", "N", "--container", index, "--out-cert", dir_.file("c.pem")});
    EXPECT_EQ(subjectOf("c.pem"), "subject=CN=" + store().read("N").containers.at(2).name + "\n");
    ok({"envelope", "--sn", "N", "--container", index, "--subject", "CN=Own,O=Bank", "--out-cert",
        dir_.file("c.pem")});
    EXPECT_EQ(subjectOf("c.pem"), "subject=CN=Own,O=Bank\n");
}

// --- the person at the key, faults, trace ---------------------------------------------

TEST_F(SoftkeyToolTest, UserScriptsAreKeptPerKeyAndForAll) {
    ok({"user", "--button", "cancel", "--pin", "1234"});
    ok({"user", "--sn", "ONE", "--button", "timeout", "--new-pin", "5678"});
    const Store s = store();
    const ScriptedUser all = scriptedUser(s, "OTHER");
    EXPECT_EQ(all.button, Button::cancel);
    EXPECT_EQ(all.pin, test::secure("1234"));
    const ScriptedUser one = scriptedUser(s, "ONE");
    EXPECT_EQ(one.button, Button::timeout);
    EXPECT_EQ(one.pin, test::secure("1234"));  // from the level above
    EXPECT_EQ(one.newPin, test::secure("5678"));
    EXPECT_EQ(ok({"user", "--sn", "ONE", "--show"}), "button: timeout\npin: 1234\nnew pin: 5678\n");

    // A level is replaced whole: the button goes back to confirm, the PIN goes.
    ok({"user"});
    EXPECT_EQ(ok({"user", "--show"}), "button: confirm\npin: none\nnew pin: none\n");
    EXPECT_EQ(scriptedUser(s, "ONE").button, Button::timeout);
    fails({"user", "--button", "press"}, 2, "--button must be confirm, cancel, timeout or broken");
    fails({"user", "--pin", std::string(65, '1')}, 2, "a PIN has 1 to 64 bytes");
    fails({"user", "--show", "--button", "cancel"}, 2, "--show changes nothing");
}

TEST_F(SoftkeyToolTest, DisplayPrintsWhatTheKeysShowed) {
    const Store s = store();
    const std::string gbkHello = "\xC4\xE3\xBA\xC3";  // 你好 in GBK
    DisplayShow first{.serial = "A",
                      .language = 1,
                      .charset = 1,
                      .warning = Bytes(gbkHello.begin(), gbkHello.end()),
                      .display = {'P', 'a', 'y', '\n', '1', '0'},
                      .form = 2,
                      .outcome = "signed",
                      .status = 0};
    DisplayShow second{.serial = "B",
                       .language = 2,
                       .charset = 2,
                       .warning = {},
                       .display = {0xFF, 0xFE},
                       .form = 1,
                       .outcome = "timeout",
                       .status = 0x80000A01};
    appendDisplayShow(s, first);
    appendDisplayShow(s, second);
    const std::string log = readText(dir_.file("store/display.log"));

    const std::string all = ok({"display"});
    const std::vector<std::string> lines = split(all, "\n");
    ASSERT_EQ(lines.size(), 8u) << all;
    EXPECT_TRUE(lines[0].ends_with(" A language 1 charset 1 form 2 signed status 0x00000000"));
    EXPECT_EQ(lines[1], "  warning: 你好");
    EXPECT_EQ(lines[2], "  display: Pay");
    EXPECT_EQ(lines[3], "    10");
    EXPECT_TRUE(lines[4].ends_with(" B language 2 charset 2 form 1 timeout status 0x80000A01"));
    EXPECT_EQ(lines[5], "  warning: ");
    EXPECT_EQ(lines[6], "  display: (not in its charset) base64://4=");

    EXPECT_EQ(ok({"display", "--json"}), log);
    EXPECT_EQ(ok({"display", "--json", "--sn", "B"}), split(log, "\n")[1] + "\n");
    EXPECT_EQ(split(ok({"display", "--sn", "A"}), "\n").size(), 5u);

    ok({"display", "--clear", "--sn", "A"});
    EXPECT_EQ(readText(dir_.file("store/display.log")), split(log, "\n")[1] + "\n");
    ok({"display", "--clear"});
    EXPECT_FALSE(s.readText(kDisplayLogFile));
    EXPECT_EQ(ok({"display"}), "");
}

TEST_F(SoftkeyToolTest, FaultsAreWrittenAsDravikReadsThem) {
    const Store s = store();
    ok({"fault", "pulled", "before", "--sn", "K1"});
    ok({"fault", "refuse-auth", "on"});
    ok({"fault", "fail", "QZAsymSign", "0x80000A01", "--count", "2"});
    ok({"fault", "fail", "NDOpen", "27013"});
    ok({"fault", "writes", "on"});
    Faults f = readFaults(s);
    EXPECT_EQ(f.pulled, "before");
    EXPECT_EQ(f.pulledSerial, "K1");
    EXPECT_TRUE(f.refuseExternAuth);
    EXPECT_TRUE(f.failWrites);
    ASSERT_EQ(f.fail.size(), 2u);
    EXPECT_EQ(f.fail.at("QZAsymSign").status, 0x80000A01u);
    EXPECT_EQ(f.fail.at("QZAsymSign").count, 2u);
    EXPECT_EQ(f.fail.at("NDOpen").status, 27013u);
    EXPECT_FALSE(f.fail.at("NDOpen").count);
    EXPECT_EQ(faultsFromJson(ok({"fault", "show"})).fail.size(), 2u);

    // The tool's own changes are never faulted.
    ok({"create", "--sn", "K1"});

    ok({"fault", "pulled", "QZAsymSign"});  // replaces the earlier pull-out
    ok({"fault", "fail", "NDOpen", "off"});
    ok({"fault", "refuse-auth", "off"});
    ok({"fault", "writes", "off"});
    f = readFaults(s);
    EXPECT_EQ(f.pulled, "QZAsymSign");
    EXPECT_FALSE(f.pulledSerial);
    EXPECT_FALSE(f.refuseExternAuth);
    EXPECT_FALSE(f.failWrites);
    EXPECT_EQ(f.fail.size(), 1u);

    fails({"fault", "fail", "QZAsymSing", "1"}, 2, "not a function that faults reach");
    // Unsupported entries never read the faults.
    fails({"fault", "pulled", "QZGetRandom"}, 2, "not a function that faults reach");
    ok({"fault", "fail", "AuxRegUserCert", "0x8000001D", "--count", "1"});
    EXPECT_EQ(readFaults(s).fail.at("AuxRegUserCert").status, 0x8000001Du);
    fails({"fault", "fail", "QZAsymSign", "0x1FFFFFFFF"}, 2, "STATUS");
    fails({"fault", "fail", "QZAsymSign", "1", "--count", "0"}, 2, "--count");
    fails({"fault", "writes", "maybe"}, 2, "writes must be off or on");
    fails({"fault", "refuse-auth", "on", "--sn", "K1"}, 2, "--sn goes only with fault pulled");
    fails({"fault", "melt"}, 2, "a fault must be");
    ok({"fault", "clear"});
    EXPECT_FALSE(s.readText(kFaultsFile));
}

TEST_F(SoftkeyToolTest, TraceSwitchesDraviksCallLog) {
    ok({"trace", "on"});
    EXPECT_TRUE(std::filesystem::exists(dir_.file("store/trace")));
    ok({"trace", "on"});
    EXPECT_EQ(ok({"trace", "show"}), "");
    writeFile(dir_.file("store/trace.log"),
              std::string_view("NDEstablishContext\nNDGetSlotList\n"));
    EXPECT_EQ(ok({"trace", "show"}), "NDEstablishContext\nNDGetSlotList\n");
    ok({"trace", "clear"});
    EXPECT_FALSE(std::filesystem::exists(dir_.file("store/trace.log")));
    EXPECT_TRUE(std::filesystem::exists(dir_.file("store/trace")));
    ok({"trace", "off"});
    EXPECT_FALSE(std::filesystem::exists(dir_.file("store/trace")));
    fails({"trace", "loud"}, 2, "the trace action must be on, off, show or clear");
}

TEST_F(SoftkeyToolTest, RegisteredListsPelnorsRegistrations) {
    EXPECT_EQ(ok({"registered"}), "");
    const std::string index = provisioned("R", "sm2");
    const Bytes der = store().read("R").containers.at(1).signature.certificate;
    writeFile(dir_.file("store/registered.json"),
              "{\"registrations\": [{\"certificate\": \"" + toBase64(der) +
                  "\", \"provider\": \"Some CSP\", \"container\": \"c-1\", \"keySpec\": 2}]}");
    EXPECT_EQ(ok({"registered"}), std::string(kSubject) + "\tc-1\tSome CSP\t2\n");
    const json::Ptr doc = json::parse(ok({"registered", "--json"}));
    EXPECT_EQ(json::string(cJSON_GetArrayItem(doc.get(), 0), "certificate"), toBase64(der));
    writeFile(dir_.file("store/registered.json"), std::string_view("[]"));
    fails({"registered"}, 1, "registered.json");
}

TEST_F(SoftkeyToolTest, CspContainersImportListAndExport) {
    openssl("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out " + dir_.arg("ec.pem"));
    openssl("req -new -x509 -key " + dir_.arg("ec.pem") + " -subj /CN=c -days 1 -out " +
            dir_.arg("ec.crt"));
    openssl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1536 -out " + dir_.arg("odd.pem"));
    ok({"csp-import", "--name", "bank one", "--key", dir_.file("ec.pem"), "--cert",
        dir_.file("ec.crt")});
    ok({"csp-import", "--name", "bank one", "--key", dir_.file("ec.pem"), "--slot", "exchange"});
    EXPECT_EQ(ok({"csp-list"}), "bank one\tsign ec384+cert\texchange ec384\n");
    EXPECT_EQ(ok({"csp-export-key", "--name", "bank one"}), readText(dir_.file("ec.pem")));
    // What the module could not use, and a certificate of another key, change nothing.
    fails({"csp-import", "--name", "x", "--key", dir_.file("odd.pem")}, 1, "not an RSA");
    fails(
        {"csp-import", "--name", "x", "--key", dir_.file("ec.pem"), "--cert", dir_.file("odd.pem")},
        1, "not a PEM certificate");
    fails({"csp-export-key", "--name", "x"}, 1, "no container");
    EXPECT_EQ(ok({"csp-list"}), "bank one\tsign ec384+cert\texchange ec384\n");
    ok({"fault", "fail", "CPSignHash", "0x80090016", "--count", "1"});
    EXPECT_EQ(readFaults(store()).fail.at("CPSignHash").status, 0x80090016u);
}

}  // namespace
}  // namespace orva::softkey
