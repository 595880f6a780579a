// The public key an issued certificate is matched to its container by, as
// the installation takes it from the certificate, against the key as openssl
// reads it: an RSA-1024 or RSA-2048 key with exponent 65537 gives its
// modulus, an EC key its point's X and Y; nothing else can match a container.
// Input: a DER certificate.

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "input_reader.h"
#include "install_targets.h"
#include "orva/openssl_ptr.h"

namespace {

using orva::fuzz::check;

// The key a container of this certificate's key pair would hold, by openssl:
// none when no container's key can be this one.
std::optional<orva::Bytes> containerKey(const X509* certificate) {
    const EVP_PKEY* key = X509_get0_pubkey(certificate);
    if (key == nullptr) {
        return std::nullopt;
    }
    if (EVP_PKEY_is_a(key, "RSA")) {
        BIGNUM* n = nullptr;
        BIGNUM* e = nullptr;
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n);
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e);
        const orva::BignumPtr modulus(n);
        const orva::BignumPtr exponent(e);
        const int bits = modulus ? BN_num_bits(modulus.get()) : 0;
        if ((bits != 1024 && bits != 2048) || !exponent || !BN_is_word(exponent.get(), 65537)) {
            return std::nullopt;
        }
        orva::Bytes bytes(static_cast<std::size_t>(bits / 8));
        BN_bn2binpad(modulus.get(), bytes.data(), static_cast<int>(bytes.size()));
        return bytes;
    }
    if (EVP_PKEY_is_a(key, "EC") || EVP_PKEY_is_a(key, "SM2")) {
        unsigned char point[65];
        std::size_t length = 0;
        if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point,
                                            sizeof point, &length) != 1 ||
            length != sizeof point || point[0] != 0x04) {
            return std::nullopt;
        }
        return orva::Bytes(point + 1, point + sizeof point);
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> der(data, size);
    const std::optional<orva::Bytes> key = orva::api::extractCertPublicKey(der);
    const unsigned char* in = data;
    const orva::X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(size)));
    check(key.has_value() == (certificate != nullptr));
    if (!certificate) {
        return 0;
    }
    // The key is taken by the length of its bit string alone: the DER of an
    // RSA-1024 or RSA-2048 key (with and without the modulus' leading zero)
    // or an uncompressed point; any other matches no container.
    const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(certificate.get());
    const int length = bits != nullptr ? ASN1_STRING_length(bits) : 0;
    constexpr int kKeyLengths[] = {65, 139, 140, 269, 270};
    if (std::ranges::find(kKeyLengths, length) == std::end(kKeyLengths)) {
        check(key->empty());
        return 0;
    }
    check(key->size() == (length == 65 ? 64u : length < 256 ? 128u : 256u));
    // A key that openssl reads as a container's matches that container.
    if (const std::optional<orva::Bytes> expected = containerKey(certificate.get())) {
        check(*key == *expected);
    }
    return 0;
}
