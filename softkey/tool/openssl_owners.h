#pragma once

// Owners for the OpenSSL objects the tool makes beyond those of openssl_ptr.h:
// names, requests, extensions and PKCS#7 bags.

#include <openssl/asn1.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "openssl_ptr.h"

namespace orva::softkey::tool {

using softkey::Free;

using Asn1OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, Free<ASN1_OCTET_STRING_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Free<PKCS7_free>>;
using X509ExtensionPtr = std::unique_ptr<X509_EXTENSION, Free<X509_EXTENSION_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, Free<X509_NAME_free>>;
using X509ReqPtr = std::unique_ptr<X509_REQ, Free<X509_REQ_free>>;

}  // namespace orva::softkey::tool
