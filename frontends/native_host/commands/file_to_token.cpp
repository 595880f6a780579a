// "NSFileToTokenExt": a token for a file the page names.

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleFileToTokenExt(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<ArgumentText> path = keys.path("path");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    return callTextExport(2048, [&](char* buffer, int* length) {
        return host.api().FileToTokenExt(path->get(), buffer, length);
    });
}

}  // namespace orva::native_host
