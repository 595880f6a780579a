#pragma once

// Distinguished names as the algorithm library decodes them and as pages pass
// them back: "NAME=value" items joined by commas, most specific first
// ("CN=Zhang San,OU=Unit,O=Bank"), values escaped as RFC 4514 escapes them
// ("O=x\,CN=y" is one item). Items are split only at unescaped commas and
// values compared unescaped; a backslash that escapes nothing stays a
// backslash, so a name a page wrote without escapes reads as it always did.

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace orva::api {

// One item: the text before its first '=' and the value after it, unescaped
// (none for an item without '=').
struct DnItem {
    std::string name;
    std::optional<std::string> value;
    auto operator<=>(const DnItem&) const = default;
};

// The items of a name, in order; none for an empty text.
std::vector<DnItem> distinguishedNameItems(std::string_view text);

// Whether two names have the same items, in the same order, values compared
// unescaped.
[[nodiscard]] bool sameDistinguishedName(std::string_view a, std::string_view b);

// Whether the text has a "CN" item.
[[nodiscard]] bool hasCommonName(std::string_view text);

// The first "CN" item's value, unescaped; empty when there is none.
std::string commonNameValue(std::string_view text);

// The subject's CN value (unescaped) when the requested name matches the subject;
// kNoMatchCertificate when it does not; kInvalidParameter for a request of several items without a
// CN item. A request of one item matches every subject whose CN value begins with its CN value
// (case-sensitive; the whole request is that value when it is not a CN item); one of several items
// must give the CN value exactly, and any OU or O item it gives must equal the subject's. The
// caller decides what a match means.
Result<std::string> matchDistinguishedName(std::string_view requested, std::string_view subject);

}  // namespace orva::api
