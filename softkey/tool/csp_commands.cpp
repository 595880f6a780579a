// The CSP module's containers: list them, import a key pair (and its
// certificate) into one, and print a container's private key.

#include <openssl/pem.h>

#include <cstdio>
#include <string>

#include "csp_containers.h"
#include "orva/openssl_ptr.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace {

constexpr std::size_t kMaxPemBytes = 64 * 1024;

// RSA 1,024, 2,048 or 4,096 bits, or EC P-256 or P-384: what the module offers.
std::string describeKey(EVP_PKEY* key) {
    const int bits = EVP_PKEY_get_bits(key);
    if (EVP_PKEY_is_a(key, "RSA") && (bits == 1024 || bits == 2048 || bits == 4096)) {
        return "rsa" + std::to_string(bits);
    }
    if (EVP_PKEY_is_a(key, "EC") && (bits == 256 || bits == 384)) {
        return "ec" + std::to_string(bits);
    }
    return {};
}

EvpPkeyPtr privateKeyOf(std::string_view pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return EvpPkeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                          : nullptr);
}

X509Ptr certificateOf(std::string_view pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

std::string readPem(const std::string& path) {
    const Bytes bytes = readFileBytes(path, kMaxPemBytes);
    return std::string(bytes.begin(), bytes.end());
}

std::uint32_t chosenSpec(const Invocation& in) {
    return parseChoice(in.value("slot").value_or("sign"), {"exchange", "sign"}, "--slot") + 1;
}

// Names are bytes; the unprintable ones are shown as \xNN.
std::string printable(std::string_view name) {
    std::string out;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && c != '\\') {
            out.push_back(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
            out += escaped;
        }
    }
    return out;
}

std::string slotText(const std::optional<csp::KeyRecord>& slot) {
    if (!slot) {
        return "-";
    }
    const EvpPkeyPtr key = privateKeyOf({slot->privatePem.data(), slot->privatePem.size()});
    std::string text = key ? describeKey(key.get()) : "unreadable";
    return slot->certificatePem ? text + "+cert" : text;
}

}  // namespace

int runCspList(Invocation& in) {
    const Store& store = in.store();
    for (const std::string& name : csp::containerNames(store)) {
        const auto container = csp::readContainer(store, name);
        if (container) {
            printLine(printable(name) + "\tsign " + slotText(container->signature) + "\texchange " +
                      slotText(container->exchange));
        }
    }
    return 0;
}

int runCspImport(Invocation& in) {
    const std::string name = in.required("name");
    if (!csp::isValidContainerName(name)) {
        throw UsageError("a container name has 1 to 259 bytes");
    }
    const std::string keyPem = readPem(in.required("key"));
    const EvpPkeyPtr key = privateKeyOf(keyPem);
    if (!key || describeKey(key.get()).empty()) {
        throw Failure("not an RSA 1024/2048/4096 or EC P-256/P-384 private key: " +
                      in.required("key"));
    }
    csp::KeyRecord record{SecureString(keyPem.data(), keyPem.size()), std::nullopt};
    if (const auto certPath = in.value("cert")) {
        const std::string certPem = readPem(*certPath);
        const X509Ptr cert = certificateOf(certPem);
        if (!cert) {
            throw Failure("not a PEM certificate: " + *certPath);
        }
        if (EVP_PKEY_eq(X509_get0_pubkey(cert.get()), key.get()) != 1) {
            throw Failure("the certificate is not the key's");
        }
        record.certificatePem = certPem;
    }
    const std::uint32_t keySpec = chosenSpec(in);
    Store& store = in.store();
    csp::createContainer(store, name);
    csp::updateContainer(store, name, [&](csp::Container& c) { *c.slot(keySpec) = record; });
    return 0;
}

int runCspExportKey(Invocation& in) {
    const auto container = csp::readContainer(in.store(), in.required("name"));
    if (!container) {
        throw Failure("no container " + in.required("name"));
    }
    const auto& slot = *container->slot(chosenSpec(in));
    if (!slot) {
        throw Failure("that container has no such key");
    }
    print(std::string_view(slot->privatePem.data(), slot->privatePem.size()));
    return 0;
}

}  // namespace orva::softkey::tool
