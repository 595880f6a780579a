#include "signing_support.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace orva::api::test {

namespace {

constexpr const char* kTemplateSerial = "TPL";

// TMPDIR as the program found it: each test points it into its own folder.
const std::string originalTemp = [] {
    const char* value = getenv("TMPDIR");
    return std::string(value != nullptr && *value != '\0' ? value : "/tmp");
}();

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The template store, made once per program and removed at its end.
class TemplateStore {
  public:
    TemplateStore() {
        std::string pattern = originalTemp + "/orva-sign-keys-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root_ = pattern;
        const std::string tool = quoted(binFolder() / "softkey") + " --dir " + quoted(root_);
        run(tool + " create --sn " + kTemplateSerial + " --pin " + kTestPin);
        const struct {
            const char* name;
            const char* alg;
            const char* type;
            const char* subject;
        } containers[] = {
            {kSm2Type4Zhang, "sm2", "4", kZhangSubject},
            {kSm2Zhang, "sm2", "3", kZhangSubject},
            {kRsa2048Zhang, "rsa2048", "3", kZhangSubject},
            {kSm2LiText, "sm2", "2", kLiSubject},
            {kRsa2048WangText, "rsa2048", "2", kWangSubject},
            {kRsa1024Zhao, "rsa1024", "3", kZhaoSubject},
        };
        for (const auto& c : containers) {
            run(tool + " provision --sn " + kTemplateSerial + " --alg " + c.alg + " --type " +
                c.type + " --subject '" + c.subject + "' --name " + c.name);
        }
        token_ = softkey::Store(root_).read(kTemplateSerial);
    }
    ~TemplateStore() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    const softkey::Token& token() const noexcept { return token_; }

  private:
    static void run(const std::string& command) {
        const auto result = runCommand(command);
        if (result.status != 0) {
            throw std::runtime_error(command + ": " + result.output);
        }
    }

    fs::path root_;
    softkey::Token token_;
};

const softkey::Token& templateToken() {
    static TemplateStore store;
    return store.token();
}

void appendBinaryElement(ByteString& out, std::uint8_t tag, std::string_view value) {
    const auto n = static_cast<std::uint32_t>(value.size());
    out.insert(out.end(), {tag, 0, 0, 0, 0, static_cast<std::uint8_t>(n >> 24),
                           static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                           static_cast<std::uint8_t>(n)});
    out.insert(out.end(), value.begin(), value.end());
}

void appendTextElement(ByteString& out, const char* tag, std::string_view value) {
    std::array<char, 32> header{};
    std::snprintf(header.data(), header.size(), "%s%010zu", tag, value.size());
    out.insert(out.end(), header.data(), header.data() + 12);
    out.insert(out.end(), value.begin(), value.end());
}

std::string base64Of(std::string_view bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(n));
    return text;
}

std::string jsonText(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsString(item) ? std::string(item->valuestring) : std::string();
}

int jsonInt(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsNumber(item) ? item->valueint : -1;
}

}  // namespace

void plugSigningKey(TestEnvironment& env, std::initializer_list<const char*> containers) {
    softkey::Token token = templateToken();
    token.serial = "SN1";
    std::erase_if(token.containers, [&](const auto& entry) {
        return std::none_of(containers.begin(), containers.end(),
                            [&](const char* name) { return entry.second.name == name; });
    });
    env.store().create(token);
    env.setUser(std::string(R"({"pin": ")") + kTestPin + "\"}");
}

ByteString signingCertificate(const char* container) {
    for (const auto& [index, c] : templateToken().containers) {
        if (c.name == container) {
            return c.signature.certificate;
        }
    }
    throw std::runtime_error(std::string("no container ") + container);
}

ByteString expectedPacket(PacketForm form, std::string_view xml, std::string_view display,
                          std::string_view attachedPath, std::string_view attachedContent) {
    std::string field;
    if (!attachedPath.empty()) {
        const std::string content = base64Of(attachedContent);
        const std::size_t b = attachedPath.size() + content.size();
        std::array<char, 96> counts{};
        std::snprintf(counts.data(), counts.size(), "00000000%08zu%08zu%08zu", b + 16, b + 8,
                      attachedPath.size());
        field = std::string(counts.data()) + std::string(attachedPath) + content;
    }
    ByteString inner;
    ByteString packet;
    if (form == PacketForm::binary) {
        appendBinaryElement(inner, 0x21, xml);
        appendBinaryElement(inner, 0x23, field);
        appendBinaryElement(inner, 0x22, display);
        appendBinaryElement(packet, 0x11, {});
        const auto n = static_cast<std::uint32_t>(inner.size());
        packet[5] = static_cast<std::uint8_t>(n >> 24);
        packet[6] = static_cast<std::uint8_t>(n >> 16);
        packet[7] = static_cast<std::uint8_t>(n >> 8);
        packet[8] = static_cast<std::uint8_t>(n);
    } else {
        appendTextElement(inner, "21", xml);
        appendTextElement(inner, "22", display);
        appendTextElement(inner, "23", field);
        std::array<char, 32> header{};
        std::snprintf(header.data(), header.size(), "11%010zu", inner.size());
        packet.assign(header.data(), header.data() + 12);
    }
    packet.insert(packet.end(), inner.begin(), inner.end());
    return packet;
}

std::vector<DisplayShow> displayLog(const TestEnvironment& env) {
    std::vector<DisplayShow> shows;
    std::istringstream lines(readLog(env.root() / "softkey" / "display.log"));
    for (std::string line; std::getline(lines, line);) {
        std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(
            cJSON_ParseWithLength(line.data(), line.size()), cJSON_Delete);
        if (!json) {
            ADD_FAILURE() << "malformed display log line: " << line;
            continue;
        }
        shows.push_back({jsonInt(json.get(), "language"), jsonInt(json.get(), "charset"),
                         jsonText(json.get(), "warning"), jsonText(json.get(), "display"),
                         jsonInt(json.get(), "form"), jsonText(json.get(), "outcome")});
    }
    return shows;
}

fs::path writeBytes(const TestEnvironment& env, const std::string& name,
                    const std::vector<std::uint8_t>& bytes) {
    const fs::path path = env.root() / name;
    writeFile(path, bytes);
    return path;
}

fs::path decodeSignature(const TestEnvironment& env, const std::string& base64,
                         const std::string& name) {
    env.writeFile(name + ".b64", base64);
    const fs::path der = env.root() / (name + ".der");
    const auto decoded = runCommand("openssl base64 -d -A -in " +
                                    quoted(env.root() / (name + ".b64")) + " -out " + quoted(der));
    if (decoded.status != 0) {
        ADD_FAILURE() << "openssl base64: " << decoded.output;
    }
    return der;
}

std::string verifyRsaSignature(const TestEnvironment& env, const std::string& base64,
                               const ByteString& packet) {
    const fs::path der = decodeSignature(env, base64);
    const fs::path packetFile = writeBytes(env, "packet.bin", packet);
    const fs::path content = env.root() / "content.bin";
    // The signature over the packet as the test writes it out...
    const auto detached =
        runCommand("openssl cms -verify -inform DER -noverify -binary -in " + quoted(der) +
                   " -content " + quoted(packetFile) + " -out /dev/null");
    if (detached.status != 0) {
        return "cms -verify -content: " + detached.output;
    }
    // ... which is also the content carried.
    const auto carried = runCommand("openssl cms -verify -inform DER -noverify -binary -in " +
                                    quoted(der) + " -out " + quoted(content));
    if (carried.status != 0) {
        return "cms -verify: " + carried.output;
    }
    if (readFile(content) != packet) {
        return "the signed content is not the packet";
    }
    return {};
}

std::string verifySm2Signature(const TestEnvironment& env, const std::string& base64,
                               const ByteString& packet, const ByteString& certificate) {
    const fs::path der = decodeSignature(env, base64);
    // The structure: signedData, SM3 digest, SM2 signature algorithm.
    const auto structure = runCommand("openssl asn1parse -inform DER -in " + quoted(der));
    const std::string& parsed = structure.output;
    if (structure.status != 0) {
        return "asn1parse: " + parsed;
    }
    for (const char* expected : {":pkcs7-signedData", ":pkcs7-data", ":sm3", ":sm2"}) {
        if (parsed.find(expected) == std::string::npos) {
            return std::string("asn1parse shows no ") + expected + "\n" + parsed;
        }
    }
    // The encryptedDigest is the last OCTET STRING; it holds the DER (r, s).
    std::string offset;
    std::istringstream lines(parsed);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("prim: OCTET STRING") != std::string::npos) {
            offset = line.substr(0, line.find(':'));
        }
    }
    const fs::path signature = env.root() / "sig.der";
    if (offset.empty()) {
        return "no signature value: no OCTET STRING";
    }
    const auto value = runCommand("openssl asn1parse -inform DER -in " + quoted(der) +
                                  " -noout -strparse " + offset + " -out " + quoted(signature));
    if (value.status != 0) {
        return "no signature value: " + value.output;
    }
    // The content, without judging the signature (cms cannot: the signature
    // is over Z and the content).
    const fs::path content = env.root() / "content.bin";
    const auto carried =
        runCommand("openssl cms -verify -inform DER -noverify -nosigs -binary -in " + quoted(der) +
                   " -out " + quoted(content));
    if (carried.status != 0) {
        return "cms content: " + carried.output;
    }
    if (readFile(content) != packet) {
        return "the signed content is not the packet";
    }
    // The signature over the packet, with the certificate's public key.
    const fs::path cert = writeBytes(env, "signer.der", certificate);
    const fs::path publicKey = env.root() / "signer.pub.pem";
    const fs::path packetFile = writeBytes(env, "packet.bin", packet);
    const auto extracted = runCommand("openssl x509 -inform DER -in " + quoted(cert) +
                                      " -pubkey -noout -out " + quoted(publicKey));
    if (extracted.status != 0) {
        return "x509 -pubkey: " + extracted.output;
    }
    const auto verified = runCommand("openssl pkeyutl -verify -pubin -inkey " + quoted(publicKey) +
                                     " -rawin -digest sm3 -pkeyopt distid:1234567812345678 -in " +
                                     quoted(packetFile) + " -sigfile " + quoted(signature));
    if (verified.status != 0) {
        return "pkeyutl -verify: " + verified.output;
    }
    return {};
}

ByteString signedDataCertificate(const TestEnvironment& env, const std::string& base64) {
    const fs::path der = decodeSignature(env, base64, "p7cert");
    const fs::path pem = env.root() / "p7certs.pem";
    const fs::path cert = env.root() / "p7cert.cer";
    auto run = runCommand("openssl pkcs7 -inform DER -in " + quoted(der) + " -print_certs -out " +
                          quoted(pem));
    if (run.status == 0) {
        run = runCommand("openssl x509 -in " + quoted(pem) + " -outform DER -out " + quoted(cert));
    }
    if (run.status != 0) {
        ADD_FAILURE() << run.output;
        return {};
    }
    return readFile(cert);
}

}  // namespace orva::api::test
