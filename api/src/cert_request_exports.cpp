// QZAPI_GMCreatePKCS10 and QZAPI_GMCreatePKCS10Ex: new key pairs on the key and
// their certificate requests; the second with the caller's PIN.

#include "cert_requests.h"
#include "export_guard.h"
#include "orva_api.h"

extern "C" int QZAPI_GMCreatePKCS10(const char* description, char* buffer, int* length) {
    return orva::api::guardedExport(
        [&] { return orva::api::createCertRequests(nullptr, description, buffer, length); });
}

extern "C" int QZAPI_GMCreatePKCS10Ex(const char* pin, const char* description, char* buffer,
                                      int* length) {
    return orva::api::guardedExport(
        [&] { return orva::api::createCertRequests(pin, description, buffer, length); });
}
