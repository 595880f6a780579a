#include "key_content_support.h"

#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "orva/openssl_ptr.h"

namespace orva::api::test {

namespace {

constexpr const char* kTemplateSerial = "CONTENT";

void mustRun(const std::string& command) {
    const auto result = runCommand(command);
    if (result.status != 0) {
        throw std::runtime_error(command + ": " + result.output);
    }
}

softkey::Token makeTemplate() {
    const orva::testing::TempDir dir("orva-content-keys");
    const std::string tool = orva::testing::shellQuote((binFolder() / "softkey").string()) +
                             " --dir " + orva::testing::shellQuote(dir.path().string());
    mustRun(tool + " create --sn " + kTemplateSerial + " --pin " + kTestPin);
    const struct {
        const char* name;
        const char* options;
    } containers[] = {
        {kZhangSm2, "--alg sm2 --type 3 --with-exchange --subject 'CN=Zhang San,OU=Unit,O=Bank'"},
        {kLiRsa2048, "--alg rsa2048 --type 2 --subject 'CN=Li Si,OU=Unit,O=Bank'"},
        {kWangType4, "--alg rsa1024 --type 4 --subject 'CN=Wang Wu,OU=Branch,O=Bank'"},
        {kRequestSm2, "--alg sm2 --type 3 --subject 'CN=Zhao Liu,OU=Unit,O=Bank'"},
        {kZhangMixed,
         "--alg rsa1024 --type 3 --with-exchange --subject 'CN=Zhang San,OU=Unit,O=Bank'"},
    };
    for (const auto& c : containers) {
        mustRun(tool + " provision --sn " + kTemplateSerial + " --name " + c.name + " " +
                c.options);
    }
    softkey::Token made = softkey::Store(dir.path()).read(kTemplateSerial);
    // A request whose certificate never came, and an exchange key likewise.
    for (auto& [index, c] : made.containers) {
        if (c.name == kRequestSm2) {
            c.signature.certificate.clear();
        } else if (c.name == kZhangMixed) {
            c.exchange.certificate.clear();
        }
    }
    return made;
}

}  // namespace

const softkey::Token& contentKey() {
    static const softkey::Token made = makeTemplate();
    return made;
}

void plugContentKey(TestEnvironment& env, std::initializer_list<const char*> containers) {
    softkey::Token token = contentKey();
    token.serial = "SN1";
    if (containers.size() != 0) {
        std::erase_if(token.containers, [&](const auto& entry) {
            return std::none_of(containers.begin(), containers.end(),
                                [&](const char* name) { return entry.second.name == name; });
        });
    }
    env.store().create(token);
    env.setUser(std::string(R"({"pin": ")") + kTestPin + "\"}");
}

std::uint32_t contentIndex(const char* container) {
    for (const auto& [index, c] : contentKey().containers) {
        if (c.name == container) {
            return index;
        }
    }
    throw std::runtime_error(std::string("no container ") + container);
}

std::string base64Of(std::span<const std::uint8_t> bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    text.resize(
        static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                                 bytes.data(), static_cast<int>(bytes.size()))));
    return text;
}

ByteString restamped(const ByteString& certificate, const std::string& notAfter) {
    const unsigned char* cursor = certificate.data();
    const X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(certificate.size())));
    const Asn1TimePtr time(ASN1_TIME_new());
    if (!cert || !time) {
        throw std::runtime_error("restamped: no certificate");
    }
    if (notAfter.empty()) {
        // A GeneralizedTime no calendar has.
        ASN1_STRING_set(time.get(), "20241399999999Z", -1);
        time->type = V_ASN1_GENERALIZEDTIME;
    } else if (ASN1_TIME_set_string(time.get(), notAfter.c_str()) != 1) {
        throw std::runtime_error("restamped: bad time " + notAfter);
    }
    static const EvpPkeyPtr signer(EVP_EC_gen("P-256"));
    if (X509_set1_notAfter(cert.get(), time.get()) != 1 ||
        X509_sign(cert.get(), signer.get(), EVP_sha256()) == 0) {
        throw std::runtime_error("restamped: cannot sign");
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert.get(), &der);
    const OpensslBytesPtr owned(der);
    if (length <= 0) {
        throw std::runtime_error("restamped: cannot encode");
    }
    return ByteString(der, der + length);
}

std::string timeFromNow(long seconds) {
    const std::time_t when = std::time(nullptr) + seconds;
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &utc);
    return text;
}

}  // namespace orva::api::test
