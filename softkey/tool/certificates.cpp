#include "certificates.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "key_crypto.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCaDir = "ca";
constexpr const char* kCaKeyFile = "ca.key";
constexpr const char* kCaCertFile = "ca.pem";
constexpr const char* kCaSubject = "CN=ORVA Softkey Test CA,O=ORVA Softkey";
constexpr std::uint32_t kCaDays = 7305;

// An OpenSSL failure: the reason with OpenSSL's own first error, queue cleared.
[[noreturn]] void sslFail(const std::string& what) {
    const unsigned long code = ERR_peek_error();
    std::string text = what;
    if (code != 0) {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof reason);
        text += " (";
        text += reason;
        text += ")";
    }
    ERR_clear_error();
    throw Failure(text);
}

void sslCheck(bool ok, const std::string& what) {
    if (!ok) {
        sslFail(what);
    }
}

int refusePassphrase(char*, int, int, void*) {
    return 0;
}

BioPtr memoryBio(std::string_view text) {
    sslCheck(text.size() <= INT_MAX, "text too large");
    BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    if (bio == nullptr) {
        throw std::bad_alloc();
    }
    return bio;
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    sslCheck(size >= 0 && (size == 0 || data != nullptr), "cannot read memory");
    return std::string(data, static_cast<std::size_t>(size));
}

// A random positive serial of 16 bytes.
void setRandomSerial(X509* cert) {
    unsigned char bytes[16];
    sslCheck(RAND_bytes(bytes, sizeof bytes) == 1, "no random bytes");
    bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7F) | 0x01);  // positive, 16 bytes
    const BignumPtr bn(BN_bin2bn(bytes, sizeof bytes, nullptr));
    sslCheck(bn != nullptr && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) != nullptr,
             "cannot set the serial number");
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    const X509ExtensionPtr ext(X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value));
    sslCheck(ext != nullptr && X509_add_ext(cert, ext.get(), -1) == 1,
             std::string("cannot add the extension ") + OBJ_nid2sn(nid));
}

// A certificate's body before its extensions: serial, names, validity, key.
X509Ptr newCertificate(const X509_NAME* issuer, const X509_NAME* subject, EVP_PKEY* key,
                       std::uint32_t days) {
    X509Ptr cert(X509_new());
    if (cert == nullptr) {
        throw std::bad_alloc();
    }
    setRandomSerial(cert.get());
    // An hour of slack keeps a freshly issued certificate valid on a clock a
    // little behind ours.
    sslCheck(X509_set_version(cert.get(), X509_VERSION_3) == 1 &&
                 X509_set_issuer_name(cert.get(), issuer) == 1 &&
                 X509_set_subject_name(cert.get(), subject) == 1 &&
                 X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
                 X509_time_adj_ex(X509_getm_notAfter(cert.get()), static_cast<int>(days), 0,
                                  nullptr) != nullptr &&
                 X509_set_pubkey(cert.get(), key) == 1,
             "cannot make the certificate");
    return cert;
}

void sign(X509* cert, EVP_PKEY* key) {
    sslCheck(X509_sign(cert, key, EVP_sha256()) > 0, "cannot sign the certificate");
}

// Writes a CA file whole: a reader never sees half of one.
void writeCaFile(const fs::path& path, std::string_view content, fs::perms mode) {
    const fs::path tmp = path.string() + ".tmp";
    writeFileBytes(tmp, content, mode);
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw Failure("cannot write " + path.string() + ": " + ec.message());
    }
}

void makeDir(const fs::path& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        throw Failure("cannot make " + dir.string() + ": " + std::strerror(errno));
    }
}

}  // namespace

// --- names -------------------------------------------------------------------

X509NamePtr parseSubject(std::string_view text) {
    if (text.empty()) {
        throw UsageError("a subject needs at least one NAME=value");
    }
    std::vector<std::pair<std::string, std::string>> items;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        const std::string_view item = text.substr(at, end - at);
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos || eq == 0 || eq + 1 == item.size()) {
            throw UsageError("subject item '" + std::string(item) + "' is not NAME=value");
        }
        std::string name(item.substr(0, eq));
        if (name == "E") {
            name = "emailAddress";
        }
        if (OBJ_txt2nid(name.c_str()) == NID_undef) {
            throw UsageError("unknown subject attribute '" + name + "'");
        }
        items.emplace_back(std::move(name), std::string(item.substr(eq + 1)));
        if (end == text.size()) {
            break;
        }
        at = end + 1;
    }
    X509NamePtr name(X509_NAME_new());
    if (name == nullptr) {
        throw std::bad_alloc();
    }
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (X509_NAME_add_entry_by_txt(name.get(), it->first.c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(it->second.c_str()),
                                       static_cast<int>(it->second.size()), -1, 0) != 1) {
            ERR_clear_error();
            throw UsageError("subject value '" + it->second + "' does not suit " + it->first);
        }
    }
    return name;
}

std::string subjectText(const X509_NAME* name) {
    std::string text;
    for (int i = X509_NAME_entry_count(name) - 1; i >= 0; --i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        sslCheck(entry != nullptr, "cannot read a name");
        const ASN1_OBJECT* object = X509_NAME_ENTRY_get_object(entry);
        const int nid = OBJ_obj2nid(object);
        std::string attribute;
        if (nid == NID_pkcs9_emailAddress) {
            attribute = "E";
        } else if (nid != NID_undef) {
            attribute = OBJ_nid2sn(nid);
        } else {
            char oid[128];
            const int size = OBJ_obj2txt(oid, sizeof oid, object, 1);
            sslCheck(size > 0 && static_cast<std::size_t>(size) < sizeof oid, "cannot read a name");
            attribute.assign(oid, static_cast<std::size_t>(size));
        }
        unsigned char* utf8 = nullptr;
        const int size = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        const OpensslBytesPtr owner(utf8);
        sslCheck(size >= 0, "cannot read a name");
        if (!text.empty()) {
            text += ',';
        }
        text += attribute;
        text += '=';
        text.append(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(size));
    }
    return text;
}

// --- certificates and keys ---------------------------------------------------

X509Ptr certificateFromDer(std::span<const std::uint8_t> der) {
    sslCheck(!der.empty() && der.size() <= LONG_MAX, "not a certificate");
    const unsigned char* next = der.data();
    X509Ptr cert(d2i_X509(nullptr, &next, static_cast<long>(der.size())));
    sslCheck(cert != nullptr && next == der.data() + der.size(), "not a DER certificate");
    return cert;
}

Bytes certificateDer(X509* cert) {
    const int size = i2d_X509(cert, nullptr);
    sslCheck(size > 0, "cannot encode the certificate");
    Bytes der(static_cast<std::size_t>(size));
    unsigned char* out = der.data();
    sslCheck(i2d_X509(cert, &out) == size, "cannot encode the certificate");
    return der;
}

std::string certificatePem(X509* cert) {
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (bio == nullptr) {
        throw std::bad_alloc();
    }
    sslCheck(PEM_write_bio_X509(bio.get(), cert) == 1, "cannot encode the certificate");
    return bioText(bio.get());
}

EvpPkeyPtr publicKeyFromPem(std::string_view pem) {
    const BioPtr bio = memoryBio(pem);
    EvpPkeyPtr key(
        PEM_read_bio_PUBKEY_ex(bio.get(), nullptr, refusePassphrase, nullptr, nullptr, nullptr));
    sslCheck(key != nullptr, "not a public key");
    return key;
}

EvpPkeyPtr privateKeyFromPem(const SecureString& pem) {
    const BioPtr bio = memoryBio(std::string_view(pem.data(), pem.size()));
    EvpPkeyPtr key(PEM_read_bio_PrivateKey_ex(bio.get(), nullptr, refusePassphrase, nullptr,
                                              nullptr, nullptr));
    sslCheck(key != nullptr, "not a private key");
    return key;
}

// --- the test CA ---------------------------------------------------------------

TestCa TestCa::open(const Store& store) {
    std::error_code ec;
    fs::create_directories(store.root().parent_path(), ec);
    makeDir(store.root());
    // Two first uses at once make one CA between them.
    const StoreLock lock(store.root());
    const fs::path dir = store.root() / kCaDir;
    makeDir(dir);
    const fs::path keyPath = dir / kCaKeyFile;
    const fs::path certPath = dir / kCaCertFile;

    if (fs::exists(keyPath, ec) && fs::exists(certPath, ec)) {
        // Through the store's reader, which takes regular files only.
        const std::string caFolder = std::string(kCaDir) + "/";
        const std::string keyText = store.readText(caFolder + kCaKeyFile).value_or("");
        const std::string certText = store.readText(caFolder + kCaCertFile).value_or("");
        const SecureString keyPem(keyText.begin(), keyText.end());
        EvpPkeyPtr key;
        X509Ptr cert;
        try {
            key = privateKeyFromPem(keyPem);
            const BioPtr bio = memoryBio(certText);
            cert.reset(PEM_read_bio_X509(bio.get(), nullptr, refusePassphrase, nullptr));
            sslCheck(cert != nullptr && X509_check_private_key(cert.get(), key.get()) == 1,
                     "key and certificate differ");
        } catch (const Failure& e) {
            throw Failure("the test CA in " + dir.string() + " is damaged (" + e.what() +
                          "); delete that folder to make a new one");
        }
        return TestCa(std::move(cert), std::move(key));
    }

    // The key is written before the certificate: a CA with its certificate but
    // no key never exists, and one without its certificate is made afresh.
    const KeyPair pair = generateKeyPair(kAlgRsa2048);
    EvpPkeyPtr key = privateKeyFromPem(pair.privatePem);
    const X509NamePtr name = parseSubject(kCaSubject);
    X509Ptr cert = newCertificate(name.get(), name.get(), key.get(), kCaDays);
    addExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
    sign(cert.get(), key.get());
    const fs::perms owner = fs::perms::owner_read | fs::perms::owner_write;
    writeCaFile(keyPath, std::string_view(pair.privatePem.data(), pair.privatePem.size()), owner);
    writeCaFile(certPath, certificatePem(cert.get()),
                owner | fs::perms::group_read | fs::perms::others_read);
    return TestCa(std::move(cert), std::move(key));
}

X509Ptr TestCa::issue(EVP_PKEY* publicKey, const X509_NAME* subject, CertUse use,
                      std::uint32_t days) const {
    X509Ptr cert = newCertificate(X509_get_subject_name(cert_.get()), subject, publicKey, days);
    addExtension(cert.get(), cert_.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), cert_.get(), NID_key_usage,
                 use == CertUse::signature
                     ? "critical,digitalSignature,nonRepudiation"
                     : "critical,keyEncipherment,dataEncipherment,keyAgreement");
    addExtension(cert.get(), cert_.get(), NID_subject_key_identifier, "hash");
    addExtension(cert.get(), cert_.get(), NID_authority_key_identifier, "keyid:always");
    sign(cert.get(), key_.get());
    return cert;
}

}  // namespace orva::softkey::tool
