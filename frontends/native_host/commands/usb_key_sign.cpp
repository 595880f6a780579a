// "GMUsbKeySign": a transaction shown on the key, confirmed with its button and
// signed; the base64 PKCS#7 comes back.

#include <climits>

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleUsbKeySign(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> signerDn = keys.string("SignerDN");
    const std::optional<const char*> hashName = keys.present("HashName");
    const std::optional<ArgumentText> transaction = keys.charsetText("xmlMsg");
    const std::optional<ArgumentText> display = keys.charsetText("keyMsg");
    const std::optional<ArgumentText> attachment = keys.path("NewVal");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    if (transaction->length() > INT_MAX) {
        return codeToText(kInvalidParameter);
    }
    const auto sign = [&](char* buffer, int* length) {
        return host.api().GMUsbKeySign(*signerDn, *hashName, transaction->get(),
                                       static_cast<int>(transaction->length()), attachment->get(),
                                       display->get(), nullptr, buffer, length);
    };
    // The size query: the key prepares, nothing is shown.
    int length = 0;
    if (const ApiErrorCode code{sign(nullptr, &length)}; code != kSuccess) {
        return codeToText(code);
    }
    if (length <= 0) {
        // A size query that names no size broke the library's convention.
        return codeToText(kOperationFailed);
    }
    // The same call with a buffer of that size: shown, confirmed, signed.
    frontend::OutputBuffer buffer(static_cast<std::uint64_t>(length));
    if (!buffer) {
        return codeToText(kMallocFailed);
    }
    const ApiErrorCode code{sign(buffer.data(), &length)};
    return code == kSuccess ? std::string(buffer.text()) : codeToText(code);
}

}  // namespace orva::native_host
