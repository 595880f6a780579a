#include "distinguished_name.h"

#include <optional>

#include "orva/hex.h"

namespace orva::api {

namespace {

constexpr std::string_view kCommonName = "CN";
constexpr std::string_view kUnit = "OU";
constexpr std::string_view kOrganisation = "O";
// What RFC 4514 lets a backslash escape by itself; anything else by two hex
// digits.
constexpr std::string_view kEscapable = ",+\"\\<>;#= ";

// The escape that starts with the backslash at text[at]: its length (2 for a
// character, 3 for a hex pair) and the byte it stands for; length 0 when the
// backslash escapes nothing and stands for itself.
struct Escape {
    std::size_t length = 0;
    char byte = '\\';
};

Escape escapeAt(std::string_view text, std::size_t at) noexcept {
    if (at + 1 < text.size() && kEscapable.find(text[at + 1]) != std::string_view::npos) {
        return {2, text[at + 1]};
    }
    if (at + 2 < text.size()) {
        const int high = hexValue(text[at + 1]);
        const int low = hexValue(text[at + 2]);
        if (high >= 0 && low >= 0) {
            return {3, static_cast<char>(high * 16 + low)};
        }
    }
    return {};
}

// The first c at or after from that no backslash escapes.
std::size_t findUnescaped(std::string_view text, char c, std::size_t from) noexcept {
    for (std::size_t at = from; at < text.size();) {
        if (text[at] == c) {
            return at;
        }
        const std::size_t escape = text[at] == '\\' ? escapeAt(text, at).length : 0;
        at += escape == 0 ? 1 : escape;
    }
    return std::string_view::npos;
}

std::string unescape(std::string_view text) {
    std::string value;
    value.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Escape escape = text[at] == '\\' ? escapeAt(text, at) : Escape{};
        value += escape.length == 0 ? text[at] : escape.byte;
        at += escape.length == 0 ? 1 : escape.length;
    }
    return value;
}

DnItem itemOf(std::string_view text) {
    const std::size_t equals = findUnescaped(text, '=', 0);
    if (equals == std::string_view::npos) {
        return {std::string(text), std::nullopt};
    }
    return {std::string(text.substr(0, equals)), unescape(text.substr(equals + 1))};
}

// The value of the first item with that name and a value.
[[nodiscard]] std::optional<std::string> valueOf(const std::vector<DnItem>& items,
                                                 std::string_view name) {
    for (const DnItem& item : items) {
        if (item.name == name && item.value) {
            return item.value;
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<DnItem> distinguishedNameItems(std::string_view text) {
    std::vector<DnItem> items;
    if (text.empty()) {
        return items;
    }
    for (std::size_t start = 0;;) {
        const std::size_t comma = findUnescaped(text, ',', start);
        items.push_back(itemOf(text.substr(start, comma - start)));
        if (comma == std::string_view::npos) {
            return items;
        }
        start = comma + 1;
    }
}

bool sameDistinguishedName(std::string_view a, std::string_view b) {
    return distinguishedNameItems(a) == distinguishedNameItems(b);
}

bool hasCommonName(std::string_view text) {
    return valueOf(distinguishedNameItems(text), kCommonName).has_value();
}

std::string commonNameValue(std::string_view text) {
    return valueOf(distinguishedNameItems(text), kCommonName).value_or(std::string());
}

Result<std::string> matchDistinguishedName(std::string_view requested, std::string_view subject) {
    const std::vector<DnItem> subjectItems = distinguishedNameItems(subject);
    const std::string subjectCn = valueOf(subjectItems, kCommonName).value_or(std::string());
    const std::vector<DnItem> requestItems = distinguishedNameItems(requested);
    const std::optional<std::string> requestedCn = valueOf(requestItems, kCommonName);

    bool match = false;
    if (requestItems.size() <= 1) {
        // A name alone, or one CN item: the beginning of the subject's CN value.
        const std::string name = requestedCn ? *requestedCn : unescape(requested);
        match = !name.empty() && subjectCn.starts_with(name);
    } else {
        // A full name: CN exactly, and OU and O where the request gives them.
        if (!requestedCn) {
            return kInvalidParameter;
        }
        const auto givenMatches = [&](std::string_view name) {
            const std::optional<std::string> given = valueOf(requestItems, name);
            return !given || given == valueOf(subjectItems, name);
        };
        match = *requestedCn == subjectCn && givenMatches(kUnit) && givenMatches(kOrganisation);
    }
    if (!match) {
        return kNoMatchCertificate;
    }
    return subjectCn;
}

}  // namespace orva::api
