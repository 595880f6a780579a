#include "distinguished_name.h"

namespace orva::api {

namespace {

constexpr std::string_view kCnPrefix = "CN=";
constexpr std::string_view kOuPrefix = "OU=";
constexpr std::string_view kOPrefix = "O=";

// The item that starts at the first occurrence of prefix, up to the next comma
// or the end, prefix included; empty when prefix does not occur.
std::string_view itemFrom(std::string_view text, std::string_view prefix) noexcept {
    const std::size_t start = text.find(prefix);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t end = text.find(',', start);
    return text.substr(start, end == std::string_view::npos ? end : end - start);
}

}  // namespace

std::string_view commonNameValue(std::string_view text) noexcept {
    const std::string_view item = itemFrom(text, kCnPrefix);
    return item.empty() ? item : item.substr(kCnPrefix.size());
}

ApiErrorCode matchDistinguishedName(std::string_view requested, std::string_view subject,
                                    std::string& commonName) {
    // The subject's CN value, OU part and O part (the parts with their
    // prefixes).
    const std::string_view subjectCn = commonNameValue(subject);
    const std::string_view subjectOu = itemFrom(subject, kOuPrefix);
    const std::string_view subjectO = itemFrom(subject, kOPrefix);
    // The request's CN value; without "CN=" the whole request is one.
    const bool requestHasCn = requested.find(kCnPrefix) != std::string_view::npos;
    const std::string_view requestedCn = requestHasCn ? commonNameValue(requested) : requested;

    bool match = false;
    if (requested.find(',') == std::string_view::npos) {
        // A name alone: the beginning of the subject's CN value.
        match = !requestedCn.empty() && requestedCn.size() <= subjectCn.size() &&
                subjectCn.starts_with(requestedCn);
    } else {
        // A full name: CN exactly, and OU and O where the request gives them.
        if (!requestHasCn) {
            return kInvalidParameter;
        }
        const std::string_view requestedOu = itemFrom(requested, kOuPrefix);
        const std::string_view requestedO = itemFrom(requested, kOPrefix);
        match = requestedCn == subjectCn && (requestedOu.empty() || requestedOu == subjectOu) &&
                (requestedO.empty() || requestedO == subjectO);
    }
    if (!match) {
        return kNoMatchCertificate;
    }
    commonName.assign(subjectCn);
    return kSuccess;
}

}  // namespace orva::api
