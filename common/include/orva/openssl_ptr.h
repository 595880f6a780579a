#pragma once

// Owners for OpenSSL objects: every object is owned from the moment it is made,
// and this is the only place that names their free functions.

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace orva {

template <auto F>
struct Free {
    void operator()(auto* p) const noexcept { F(p); }
};

// OPENSSL_free is a macro; bytes OpenSSL allocated for us go back through this.
inline void freeOpensslBytes(unsigned char* p) noexcept {
    OPENSSL_free(p);
}

using OpensslBytesPtr = std::unique_ptr<unsigned char, Free<freeOpensslBytes>>;
using Asn1BitStringPtr = std::unique_ptr<ASN1_BIT_STRING, Free<ASN1_BIT_STRING_free>>;
using Asn1OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, Free<ASN1_OCTET_STRING_free>>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, Free<ASN1_TIME_free>>;
using BioPtr = std::unique_ptr<BIO, Free<BIO_free_all>>;
using BignumPtr = std::unique_ptr<BIGNUM, Free<BN_free>>;
// A BIGNUM that held a secret: wiped before it is freed.
using SecretBignumPtr = std::unique_ptr<BIGNUM, Free<BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, Free<BN_CTX_free>>;
using EcGroupPtr = std::unique_ptr<EC_GROUP, Free<EC_GROUP_free>>;
using EcPointPtr = std::unique_ptr<EC_POINT, Free<EC_POINT_clear_free>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, Free<ECDSA_SIG_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Free<EVP_PKEY_CTX_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, Free<EVP_MD_CTX_free>>;
using EvpMdPtr = std::unique_ptr<EVP_MD, Free<EVP_MD_free>>;
using EvpCipherPtr = std::unique_ptr<EVP_CIPHER, Free<EVP_CIPHER_free>>;
using EvpCipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, Free<EVP_CIPHER_CTX_free>>;
using OsslParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, Free<OSSL_PARAM_BLD_free>>;
using OsslParamPtr = std::unique_ptr<OSSL_PARAM, Free<OSSL_PARAM_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Free<PKCS7_free>>;
using X509Ptr = std::unique_ptr<X509, Free<X509_free>>;
using X509AlgorPtr = std::unique_ptr<X509_ALGOR, Free<X509_ALGOR_free>>;
using X509ExtensionPtr = std::unique_ptr<X509_EXTENSION, Free<X509_EXTENSION_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, Free<X509_NAME_free>>;
using X509ReqPtr = std::unique_ptr<X509_REQ, Free<X509_REQ_free>>;

}  // namespace orva
