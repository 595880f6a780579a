// "GetSignFileContent": a piece of the signature file written last, named by
// its token.

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleGetSignFileContent(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    // All three looked up first; the numbers are read after.
    const std::optional<const char*> fileToken = keys.text("FileToken");
    const cJSON* maxLengthItem = keys.item("MaxLength");
    const cJSON* offsetItem = keys.item("FileOffset");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    std::int32_t maxLength = 0;
    // 0 reads nothing; below 0 would size the buffer below its 64 bytes.
    if (!readJsonInt(maxLengthItem, maxLength) || maxLength <= 0) {
        return codeToText(kInvalidParameter);
    }
    std::int32_t offset = 0;
    if (!readJsonInt(offsetItem, offset)) {
        return codeToText(kInvalidParameter);
    }
    const std::uint64_t size = static_cast<std::uint64_t>(maxLength) + 64;
    return callTextExport(size, [&](char* buffer, int* length) {
        return host.api().GetSignFileContent(*fileToken, maxLength, offset, buffer, length);
    });
}

}  // namespace orva::native_host
