// "GMCreatePKCS10": the key makes a key pair and signs a request for it.

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleCreatePkcs10(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> description = keys.text("CertReq");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    return callTextExport(32768, [&](char* buffer, int* length) {
        return host.api().GMCreatePKCS10(*description, buffer, length);
    });
}

}  // namespace orva::native_host
