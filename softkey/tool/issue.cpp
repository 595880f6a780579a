// The bank's CA: its certificate, and certificates for the requests a key made.

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstring>

#include "certificates.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace {

constexpr std::size_t kMaxRequestFileBytes = 64 * 1024;
// The user id SM2 signatures are made with throughout (the standard's default).
constexpr const char* kSm2UserId = "1234567812345678";

X509ReqPtr requestFromDer(std::span<const std::uint8_t> der) {
    if (der.empty()) {
        return nullptr;
    }
    const unsigned char* next = der.data();
    X509ReqPtr req(d2i_X509_REQ(nullptr, &next, static_cast<long>(der.size())));
    if (req != nullptr && next != der.data() + der.size()) {
        req.reset();  // trailing bytes: not one request
    }
    return req;
}

// A request in PEM, DER or base64 (white space allowed).
X509ReqPtr readRequest(const std::string& path) {
    const Bytes bytes = readFileBytes(path, kMaxRequestFileBytes);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    X509ReqPtr req;
    if (text.find("-----BEGIN ") != std::string_view::npos) {
        const BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        if (bio == nullptr) {
            throw std::bad_alloc();
        }
        req.reset(PEM_read_bio_X509_REQ(bio.get(), nullptr, nullptr, nullptr));
    } else {
        req = requestFromDer(bytes);
        if (req == nullptr) {
            std::string compact;
            for (const char c : text) {
                if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
                    compact += c;
                }
            }
            if (const auto der = fromBase64(compact)) {
                req = requestFromDer(*der);
            }
        }
    }
    ERR_clear_error();
    if (req == nullptr) {
        throw Failure(path + " is not a PKCS#10 request (DER, PEM or base64)");
    }
    return req;
}

bool isSm2Key(EVP_PKEY* key) {
    if (EVP_PKEY_is_a(key, "SM2")) {
        return true;
    }
    char group[32] = {};
    std::size_t size = 0;
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                          &size) == 1 &&
           std::strcmp(group, "SM2") == 0;
}

// Refuses a request whose signature does not verify under its own key; SM2
// requests are checked with the standard user id.
void verifyRequest(X509_REQ* req, EVP_PKEY* key) {
    if (isSm2Key(key)) {
        Asn1OctetStringPtr id(ASN1_OCTET_STRING_new());
        if (id == nullptr ||
            ASN1_OCTET_STRING_set(id.get(), reinterpret_cast<const unsigned char*>(kSm2UserId),
                                  static_cast<int>(std::strlen(kSm2UserId))) != 1) {
            throw std::bad_alloc();
        }
        X509_REQ_set0_distinguishing_id(req, id.release());
    }
    const int verified = X509_REQ_verify(req, key);
    ERR_clear_error();
    if (verified != 1) {
        throw Failure("the request's signature does not verify");
    }
}

// A PKCS#7 SignedData without signers or content, carrying the certificates.
Bytes certificateBag(X509* cert, X509* caCert) {
    const Pkcs7Ptr p7(PKCS7_new());
    if (p7 == nullptr) {
        throw std::bad_alloc();
    }
    if (PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1 ||
        PKCS7_content_new(p7.get(), NID_pkcs7_data) != 1 || PKCS7_set_detached(p7.get(), 1) != 1 ||
        PKCS7_add_certificate(p7.get(), cert) != 1 ||
        PKCS7_add_certificate(p7.get(), caCert) != 1) {
        ERR_clear_error();
        throw Failure("cannot make the PKCS#7 certificate bag");
    }
    const int size = i2d_PKCS7(p7.get(), nullptr);
    Bytes der(size > 0 ? static_cast<std::size_t>(size) : 0);
    unsigned char* out = der.data();
    if (size <= 0 || i2d_PKCS7(p7.get(), &out) != size) {
        ERR_clear_error();
        throw Failure("cannot encode the PKCS#7 certificate bag");
    }
    return der;
}

}  // namespace

int runCa(Invocation& in) {
    const TestCa ca = TestCa::open(in.store());
    print(certificatePem(ca.certificate()));
    return 0;
}

int runIssue(Invocation& in) {
    const bool bag = parseChoice(in.value("format").value_or("p7"), {"p7", "der"}, "--format") == 0;
    const std::uint32_t days = in.has("days")
                                   ? parseNumber(*in.value("days"), 1, kMaxCertDays, "--days")
                                   : kDefaultCertDays;
    const X509ReqPtr req = readRequest(in.positional()[0]);
    EVP_PKEY* key = X509_REQ_get0_pubkey(req.get());
    if (key == nullptr) {
        ERR_clear_error();
        throw Failure("the request's public key is not one OpenSSL reads");
    }
    verifyRequest(req.get(), key);
    const X509_NAME* subject = X509_REQ_get_subject_name(req.get());
    if (subject == nullptr || X509_NAME_entry_count(subject) == 0) {
        throw Failure("the request has an empty subject");
    }

    const TestCa ca = TestCa::open(in.store());
    const X509Ptr cert = ca.issue(key, subject, CertUse::signature, days);
    printLine(
        toBase64(bag ? certificateBag(cert.get(), ca.certificate()) : certificateDer(cert.get())));
    return 0;
}

}  // namespace orva::softkey::tool
