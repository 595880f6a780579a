// "NSChooseFile": the user picks a file; its path comes back in UTF-8.

#include "commands.h"
#include "export_calls.h"
#include "text_conversion.h"

namespace orva::native_host {

std::string handleChooseFile(HostState& host, const cJSON*) {
    frontend::OutputBuffer buffer(260);
    if (!buffer) {
        return codeToText(kMallocFailed);
    }
    const ApiErrorCode code{host.api().ChooseFile(buffer.data(), buffer.length())};
    if (code != kSuccess) {
        return codeToText(code);
    }
    const std::string path(buffer.text());
    if (path.empty()) {
        return {};
    }
    // The library answers in the ANSI code page.
    const std::optional<frontend::ConvertedText> utf8 = frontend::ansiToUtf8(path.c_str());
    if (!utf8) {
        return codeToText(kMallocFailed);
    }
    return std::string(utf8->c_str(), utf8->length());
}

}  // namespace orva::native_host
