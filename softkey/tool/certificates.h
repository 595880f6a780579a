#pragma once

// The store's test CA and the certificates it issues as a bank's CA would, with
// the subject text the key's certificate decoder shows ("CN=..,OU=..,O=..").

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "orva/openssl_ptr.h"
#include "secure_bytes.h"
#include "store.h"

namespace orva::softkey::tool {

enum class CertUse {
    signature,   // digitalSignature, nonRepudiation
    encryption,  // keyEncipherment, dataEncipherment, keyAgreement
};

inline constexpr std::uint32_t kDefaultCertDays = 730;
inline constexpr std::uint32_t kMaxCertDays = 36500;

// A subject written most specific first, "CN=Zhang San,OU=Unit,O=Bank", as a
// name whose DER lists the attributes the other way round (O, OU, CN), so that
// subjectText gives back the same text. Attributes are OpenSSL's short or long
// names, E for emailAddress; values are UTF-8 and cannot hold a comma.
X509NamePtr parseSubject(std::string_view text);

// A name as the key's certificate decoder writes it: attributes last to first,
// short names (E for emailAddress), joined by "," without blanks, UTF-8 values.
std::string subjectText(const X509_NAME* name);

X509Ptr certificateFromDer(std::span<const std::uint8_t> der);
Bytes certificateDer(X509* cert);
std::string certificatePem(X509* cert);

// Keys from PEM; a key protected by a pass phrase is refused, never prompted for.
EvpPkeyPtr publicKeyFromPem(std::string_view pem);
EvpPkeyPtr privateKeyFromPem(const SecureString& pem);

// The store's test CA: an RSA-2048 key signing with SHA-256 for every subject
// key, SM2 included. It lives in <store>/ca/: ca.key (PKCS#8 PEM, mode 0600)
// and ca.pem, made on first use under the store's lock and reused after.
class TestCa {
  public:
    static TestCa open(const Store& store);

    X509* certificate() const noexcept { return cert_.get(); }

    // A certificate for publicKey with that subject, valid from an hour ago for
    // days days.
    X509Ptr issue(EVP_PKEY* publicKey, const X509_NAME* subject, CertUse use,
                  std::uint32_t days) const;

  private:
    TestCa(X509Ptr cert, EvpPkeyPtr key) : cert_(std::move(cert)), key_(std::move(key)) {}

    X509Ptr cert_;
    EvpPkeyPtr key_;
};

}  // namespace orva::softkey::tool
