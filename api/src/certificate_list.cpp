#include "certificate_list.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <climits>
#include <string>

#include "base64_codec.h"
#include "container_walk.h"
#include "orva/openssl_ptr.h"

namespace orva::api {

namespace {

// The PEM frame lines once their blanks are dropped.
constexpr std::string_view kPemBegin = "-----BEGINCERTIFICATE-----";
constexpr std::string_view kPemEnd = "-----ENDCERTIFICATE-----";
constexpr std::string_view kItemSeparator = "||";

constexpr unsigned char kKeyCertSign = 0x04;
constexpr unsigned char kCrlSign = 0x02;

bool isIgnored(char c) noexcept {
    return c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == ',';
}

// A CA certificate (one that may sign certificates or CRLs) is passed over. A
// key-usage extension that does not decode, or that stands twice, counts as a
// CA's: nothing is installed on a guess.
bool isEndEntityCertificate(const X509* certificate) {
    if (certificate == nullptr) {
        return false;
    }
    int critical = 0;
    const Asn1BitStringPtr usage(static_cast<ASN1_BIT_STRING*>(
        X509_get_ext_d2i(certificate, NID_key_usage, &critical, nullptr)));
    if (!usage) {
        return critical == -1;
    }
    const unsigned char first =
        ASN1_STRING_length(usage.get()) > 0 ? ASN1_STRING_get0_data(usage.get())[0] : 0;
    return (first & (kKeyCertSign | kCrlSign)) == 0;
}

// Exactly the certificate's own DER, never bytes that followed it.
[[nodiscard]] std::optional<Bytes> certificateDer(const X509* certificate) {
    const int length = i2d_X509(certificate, nullptr);
    if (length <= 0 || static_cast<std::size_t>(length) > kCertificateRoom) {
        return std::nullopt;
    }
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (i2d_X509(certificate, &out) != length) {
        return std::nullopt;
    }
    return der;
}

}  // namespace

std::optional<Bytes> extractEndEntityCertificate(std::span<const std::uint8_t> der) {
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) {
        return std::nullopt;
    }
    const auto length = static_cast<long>(der.size());
    const unsigned char* in = der.data();
    if (const Pkcs7Ptr p7(d2i_PKCS7(nullptr, &in, length)); p7) {
        if (!PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr) {
            return std::nullopt;
        }
        const STACK_OF(X509)* certificates = p7->d.sign->cert;
        for (int i = 0; i < sk_X509_num(certificates); ++i) {
            const X509* certificate = sk_X509_value(certificates, i);
            if (isEndEntityCertificate(certificate)) {
                return certificateDer(certificate);
            }
        }
        return std::nullopt;
    }
    ERR_clear_error();
    in = der.data();
    const X509Ptr certificate(d2i_X509(nullptr, &in, length));
    if (!certificate) {
        ERR_clear_error();
        return std::nullopt;
    }
    if (!isEndEntityCertificate(certificate.get())) {
        return std::nullopt;
    }
    return certificateDer(certificate.get());
}

std::optional<std::vector<Bytes>> parseCertificateList(std::string_view text) {
    std::string list;
    list.reserve(text.size());
    for (const char c : text) {
        if (!isIgnored(c)) {
            list.push_back(c);
        }
    }
    std::string_view rest = list;
    if (const std::size_t end = rest.find(kPemEnd); end != std::string_view::npos) {
        rest = rest.substr(0, end);
    }
    if (const std::size_t begin = rest.find(kPemBegin); begin != std::string_view::npos) {
        rest = rest.substr(begin + kPemBegin.size());
    }

    std::vector<Bytes> certificates;
    while (!rest.empty()) {
        const std::size_t separator = rest.find(kItemSeparator);
        const std::string_view item = rest.substr(0, separator);
        rest = separator == std::string_view::npos ? std::string_view()
                                                   : rest.substr(separator + kItemSeparator.size());
        const std::optional<Bytes> bytes = base64Decode(item);
        if (!bytes) {
            return std::nullopt;
        }
        std::optional<Bytes> certificate = extractEndEntityCertificate(*bytes);
        if (!certificate) {
            return std::nullopt;
        }
        certificates.push_back(std::move(*certificate));
    }
    return certificates;
}

}  // namespace orva::api
