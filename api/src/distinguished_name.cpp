#include "distinguished_name.h"

namespace orva::api {

namespace {

constexpr std::string_view kCnPrefix = "CN=";
constexpr std::string_view kOuPrefix = "OU=";
constexpr std::string_view kOPrefix = "O=";

// Where the first item named by prefix starts: at the start of the text or
// just after a comma, never inside another item's value.
std::size_t itemStart(std::string_view text, std::string_view prefix) noexcept {
    for (std::size_t at = text.find(prefix); at != std::string_view::npos;
         at = text.find(prefix, at + 1)) {
        if (at == 0 || text[at - 1] == ',') {
            return at;
        }
    }
    return std::string_view::npos;
}

// That item up to the next comma or the end, prefix included; empty when
// there is none.
std::string_view itemFrom(std::string_view text, std::string_view prefix) noexcept {
    const std::size_t start = itemStart(text, prefix);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t end = text.find(',', start);
    return text.substr(start, end == std::string_view::npos ? end : end - start);
}

}  // namespace

bool hasCommonName(std::string_view text) noexcept {
    return itemStart(text, kCnPrefix) != std::string_view::npos;
}

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
    const bool requestHasCn = hasCommonName(requested);
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
