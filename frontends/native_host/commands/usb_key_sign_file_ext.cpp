// "GMUsbKeySignFileExt": a transaction with the file chosen earlier (named by
// its token) signed on the key; the signature file's token comes back.

#include <climits>

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleUsbKeySignFileExt(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> signerDn = keys.string("SignerDN");
    const std::optional<const char*> hashName = keys.present("HashName");
    const std::optional<ArgumentText> transaction = keys.charsetText("xmlMsg");
    const std::optional<ArgumentText> display = keys.charsetText("keyMsg");
    const std::optional<const char*> fileToken = keys.text("chooseFileToken");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    if (transaction->length() > INT_MAX) {
        return codeToText(kInvalidParameter);
    }
    // One call only: the library signs before it looks at the buffer, so the
    // buffer is sized beforehand from the transaction's count (in 64 bits).
    const std::uint64_t n = transaction->charsetCount();
    return callTextExport(3 * n / 2 + 4096, [&](char* buffer, int* length) {
        return host.api().GMUsbKeySignFileExt(*signerDn, *hashName, transaction->get(),
                                              static_cast<int>(transaction->length()),
                                              display->get(), *fileToken, buffer, length);
    });
}

}  // namespace orva::native_host
