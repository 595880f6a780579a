// "GMGetPublicKey" and "GMGetPublicKeyC": the key's public keys, chosen by type.

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleGetPublicKey(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> readType = keys.text("ReadType");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    return callTextExport(8192, [&](char* buffer, int* length) {
        return host.api().GMGetPubkeyInfo(*readType, buffer, length);
    });
}

std::string handleGetPublicKeyC(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> keyType = keys.text("KeyType");
    const std::optional<const char*> dnOrId = keys.text("DnOrID");
    const std::optional<const char*> serverRandom = keys.text("Base64SerRand");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    return callTextExport(8192, [&](char* buffer, int* length) {
        return host.api().GMGetPubkeyInfoC(*keyType, *dnOrId, *serverRandom, buffer, length);
    });
}

}  // namespace orva::native_host
