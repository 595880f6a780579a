// Input: the signer's name a page passes, a NUL byte, then a certificate
// subject as the algorithm library decodes it (no NUL: the subject is empty).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "distinguished_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view requested = input.substr(0, split);
    const std::string_view subject =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    const orva::api::Result<std::string> match =
        orva::api::matchDistinguishedName(requested, subject);
    const orva::ApiErrorCode code = match.code();
    const std::string commonName = match ? *match : "unset";
    // Several items (an unescaped comma) without a CN item.
    const bool malformed = orva::api::distinguishedNameItems(requested).size() > 1 &&
                           !orva::api::hasCommonName(requested);
    switch (code.number()) {
        case orva::kSuccess.number():
            // A match names the subject's own CN value and never comes from
            // an empty request or a malformed one.
            if (malformed || requested.empty() ||
                commonName != orva::api::commonNameValue(subject)) {
                __builtin_trap();
            }
            break;
        case orva::kInvalidParameter.number():
            if (!malformed || commonName != "unset") {
                __builtin_trap();
            }
            break;
        case orva::kNoMatchCertificate.number():
            if (malformed || commonName != "unset") {
                __builtin_trap();
            }
            break;
        default:
            __builtin_trap();
    }
    return 0;
}
