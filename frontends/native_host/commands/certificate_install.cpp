// "GMWritePKCS7" and "GMWritePKCS7_Enc": certificates from the bank, and with
// the second an encryption key pair in its envelope.

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleWritePkcs7(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> certificates = keys.text("SignCertP7");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    return codeToText(host.api().GMWritePKCS7_Enc(*certificates, nullptr, nullptr));
}

std::string handleWritePkcs7Enc(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> certificates = keys.text("SignCertP7");
    const std::optional<const char*> envelope = keys.present("encData");
    const std::optional<const char*> serverRandom = keys.present("servRand");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    return codeToText(host.api().GMWritePKCS7_Enc(*certificates, *envelope, *serverRandom));
}

}  // namespace orva::native_host
