// "GMDelTempKey": deletes containers by subject list, by public-key ids, or both.

#include <climits>
#include <cstring>

#include "commands.h"
#include "export_calls.h"
#include "request_keys.h"

namespace orva::native_host {

std::string handleDelTempKey(HostState& host, const cJSON* request) {
    RequestKeys keys(request, host.charset);
    const std::optional<const char*> subjects = keys.string("CertDn");
    const std::optional<const char*> publicKeyIds = keys.string("PublicKeyId");
    if (keys.failed()) {
        return codeToText(keys.failure());
    }
    const std::size_t subjectsLength = std::strlen(*subjects);
    // Nothing named at all; and a list longer than an int can count.
    if ((subjectsLength == 0 && **publicKeyIds == '\0') || subjectsLength > INT_MAX) {
        return codeToText(kInvalidParameter);
    }
    return codeToText(
        host.api().GMDelTempKey(*subjects, static_cast<int>(subjectsLength), *publicKeyIds));
}

}  // namespace orva::native_host
