// "GMUsbKeySignFile": a transaction with a file signed on the key; the base64
// PKCS#7 goes to the file the page names, and only the code comes back.

#include <climits>

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleUsbKeySignFile(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> signerDn = keys.string("SignerDN");
    const std::optional<const char*> hashName = keys.present("HashName");
    const std::optional<ArgumentText> transaction = keys.charsetText("xmlMsg");
    const std::optional<ArgumentText> display = keys.charsetText("keyMsg");
    const std::optional<ArgumentText> file = keys.path("file");
    const std::optional<ArgumentText> signatureFile = keys.path("fileP7");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    if (transaction->length() > INT_MAX) {
        return codeToText(kInvalidParameter);
    }
    return codeToText(host.api().GMUsbKeySign(
        *signerDn, *hashName, transaction->get(), static_cast<int>(transaction->length()),
        file->get(), display->get(), signatureFile->get(), nullptr, nullptr));
}

}  // namespace orva::native_host
