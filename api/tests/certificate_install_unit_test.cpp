// What the certificate installation reads from the page: the certificate list
// in its forms, the envelope's fields against their rooms, and the public key
// taken from a certificate. The certificates are made by the openssl command
// line.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base64_codec.h"
#include "certificate_list.h"
#include "install_targets.h"
#include "key_envelope.h"
#include "orva/testing/support.h"

namespace orva::api {
namespace {

using orva::testing::readFile;
using orva::testing::readText;
using orva::testing::runCommand;
using orva::testing::TempDir;

// Made once per program by openssl: a CA, a user certificate it issued for
// digitalSignature, the same key's certificate without extensions, one for CRL
// signing only, one over 4096 bytes, and a P-384 one.
constexpr const char* kMakeCertificates = R"(set -e
ec() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:$1 -out $2.key; }
ec P-256 ca; ec P-256 user; ec P-384 p384
openssl req -x509 -new -key ca.key -subj /CN=CA -addext keyUsage=critical,keyCertSign,cRLSign -out ca.pem
openssl req -new -key user.key -subj /CN=User -out user.csr
echo keyUsage=critical,digitalSignature > user.ext
echo keyUsage=cRLSign > crl.ext
echo subjectAltName=DNS:$(head -c 4200 /dev/zero | tr '\0' a) > big.ext
for n in user crl big; do
  openssl x509 -req -in user.csr -CA ca.pem -CAkey ca.key -set_serial 7 -extfile $n.ext -out $n.pem
done
openssl x509 -req -in user.csr -signkey user.key -out plain.pem
openssl req -new -key p384.key -subj /CN=P384 | openssl x509 -req -signkey p384.key -out p384.pem
openssl crl2pkcs7 -nocrl -certfile ca.pem -certfile user.pem -outform DER -out ca-first.p7
openssl crl2pkcs7 -nocrl -certfile ca.pem -outform DER -out ca-only.p7
openssl ec -in user.key -pubout -outform DER -out user.pub
for n in ca user crl big plain p384; do openssl x509 -in $n.pem -outform DER -out $n.der; done
)";

class Certificates {
  public:
    Certificates() {
        const auto made = runCommand("cd " + dir_.arg("") + " && " + kMakeCertificates);
        if (made.status != 0) {
            throw std::runtime_error(made.output);
        }
    }

    Bytes der(const std::string& name) const { return file(name + ".der"); }
    std::string base64(const std::string& name) const { return base64Encode(der(name)); }
    Bytes file(const std::string& name) const { return readFile(dir_.file(name)); }
    std::string text(const std::string& name) const { return readText(dir_.file(name)); }

  private:
    TempDir dir_{"orva-install-certs"};
};

const Certificates& certificates() {
    static const Certificates made;
    return made;
}

TEST(CertificateList, EveryFormGivesItsEndEntityCertificate) {
    const Certificates& c = certificates();
    const Bytes user = c.der("user");
    const Bytes plain = c.der("plain");
    const std::string userText = c.base64("user");
    std::string scattered;
    for (std::size_t i = 0; i < userText.size(); ++i) {
        scattered += userText[i];
        if (i % 50 == 0) {
            scattered += i % 100 == 0 ? " ,\r\n" : "\t";
        }
    }
    Bytes withTrailer = user;
    withTrailer.insert(withTrailer.end(), {0x30, 0x03, 0x02, 0x01, 0x00});

    using List = std::optional<std::vector<Bytes>>;
    struct Case {
        const char* what;
        std::string text;
        List expected;
    };
    const Case cases[] = {
        {"bare DER", userText, List{{user}}},
        {"PEM frame, broken lines", c.text("user.pem"), List{{user}}},
        {"blanks, commas, CRLF anywhere", scattered, List{{user}}},
        {"PKCS#7, CA first", base64Encode(c.file("ca-first.p7")), List{{user}}},
        {"no key usage", c.base64("plain"), List{{plain}}},
        {"trailing ||", userText + "||", List{{user}}},
        {"two items", userText + "||" + c.base64("plain"), List{{user, plain}}},
        {"bytes after the certificate", base64Encode(withTrailer), List{{user}}},
        {"empty", "", List{std::vector<Bytes>{}}},
        {"separators only", " ,\r\n\t", List{std::vector<Bytes>{}}},
        {"bars only", "||", std::nullopt},
        {"bare CA", c.base64("ca"), std::nullopt},
        {"CRL signer", c.base64("crl"), std::nullopt},
        {"PKCS#7 of a CA only", base64Encode(c.file("ca-only.p7")), std::nullopt},
        {"second item bad", userText + "||AAAA", std::nullopt},
        {"not whole base64", userText.substr(1), std::nullopt},
        {"over 4096 bytes", c.base64("big"), std::nullopt},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(parseCertificateList(k.text), k.expected) << k.what;
    }
}

TEST(KeyEnvelope, FieldsAreCheckedByWhatTheyDecodeTo) {
    const std::string cert4096 = std::string(5460, 'A') + "AA==";  // 4096 bytes
    const std::string cert4098 = std::string(5464, 'A');           // 4098 bytes
    const Bytes zeros4096(4096, 0);
    struct Case {
        const char* what;
        std::string text;
        std::optional<KeyEnvelope> expected;
    };
    const Case cases[] = {
        {"five fields", "AQID||01||BAU=||Bg==||BwgJCg==",
         KeyEnvelope{{1, 2, 3}, kEnvelopeSm4Cbc, {4, 5}, {6}, {7, 8, 9, 10}}},
        {"first two fields", "AQID||00", KeyEnvelope{{1, 2, 3}, kEnvelopeSm4Ecb, {}, {}, {}}},
        {"certificate only, trailing ||", "AQID||", KeyEnvelope{{1, 2, 3}, 0, {}, {}, {}}},
        {"empty algorithm field",
         "AQID||||BAU=", KeyEnvelope{{1, 2, 3}, kEnvelopeSm4Ecb, {4, 5}, {}, {}}},
        {"certificate of exactly 4096 bytes", cert4096, KeyEnvelope{zeros4096, 0, {}, {}, {}}},
        {"5464 characters, 4098 bytes", cert4098, std::nullopt},
        {"5465 characters", cert4096 + "A", std::nullopt},
        {"part C of 8 characters, 6 bytes", "AQID||00||BA==||BA==||AAAAAAAA", std::nullopt},
        {"part A of 685 characters", "AQID||00||" + std::string(685, 'A'), std::nullopt},
        {"six fields", "AQID||00||BA==||BA==||BA==||BA==", std::nullopt},
        {"empty first field", "||00", std::nullopt},
        {"empty key part", "AQID||00||||BA==", std::nullopt},
        {"bad base64", "AQID||00||BA=", std::nullopt},
    };
    const auto same = [](const KeyEnvelope& a, const KeyEnvelope& b) {
        return a.certificate == b.certificate && a.algorithmWord == b.algorithmWord &&
               a.partA == b.partA && a.partB == b.partB && a.partC == b.partC;
    };
    for (const Case& k : cases) {
        const std::optional<KeyEnvelope> parsed = parseKeyEnvelope(k.text);
        ASSERT_EQ(parsed.has_value(), k.expected.has_value()) << k.what;
        if (parsed) {
            EXPECT_TRUE(same(*parsed, *k.expected)) << k.what;
        }
    }
}

TEST(CertPublicKey, AnEcPointLosesItsPrefixAndOtherSizesMatchNothing) {
    const Certificates& c = certificates();
    const Bytes spki = c.file("user.pub");  // ends with 04 | X | Y
    const Bytes point(spki.end() - 64, spki.end());
    EXPECT_EQ(extractCertPublicKey(c.der("user")), point);
    EXPECT_EQ(extractCertPublicKey(c.der("p384")), Bytes());
    EXPECT_EQ(extractCertPublicKey(Bytes{0x30, 0x03, 0x02, 0x01, 0x00}), std::nullopt);
}

}  // namespace
}  // namespace orva::api
