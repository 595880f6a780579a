// "SetCharset", "SetLanguage" and "SetWarningMsg": what the key is told with
// each signature.

#include <cstring>

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

namespace {

// The longest name the host takes: the library knows none longer.
constexpr std::size_t kCharsetNameLimit = 7;

}  // namespace

std::string handleSetCharset(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> name = keys.text("CharSet");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    if (strnlen(*name, kCharsetNameLimit + 1) > kCharsetNameLimit) {
        return codeToText(kInvalidParameter);
    }
    // Kept only when the library takes it, as the plug-in and the control do:
    // a refused name kept here would hand the key texts in another charset
    // than the one the library tells it.
    const ApiErrorCode code{host.api().SetCharset(*name)};
    if (code == kSuccess) {
        host.charset.store(*name);
    }
    return codeToText(code);
}

std::string handleSetLanguage(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> language = keys.text("Language");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    return codeToText(host.api().SetDevLanguage(*language));
}

std::string handleSetWarningMsg(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> warning = keys.string("WarningMsg");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    return codeToText(host.api().SetWarningTips(*warning));
}

}  // namespace orva::native_host
