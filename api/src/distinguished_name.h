#pragma once

// MatchDistinguishedName: does a signer's name, as a page writes it, name a
// certificate's subject? Subjects are "NAME=value" items joined by commas, as
// the algorithm library decodes them ("CN=Zhang San,OU=Unit,O=Bank").

#include <string>
#include <string_view>

#include "orva_result_codes.h"

namespace orva::api {

// Items are recognised by their names only where an item starts: at the start
// of the text or just after a comma.

// Whether the text has a "CN=" item.
bool hasCommonName(std::string_view text) noexcept;

// The text after the first "CN=" item's name up to the next comma or the end;
// empty when there is none.
std::string_view commonNameValue(std::string_view text) noexcept;

// 0 when the requested name matches the subject, with commonName := the
// subject's CN value; -405 when it does not; -106 for a request with a comma
// but no "CN=" item. A request without a comma matches every subject whose CN value
// begins with it (case-sensitive); one with a comma must give the CN value
// exactly, and any "OU=" or "O=" part it gives must equal the subject's.
// Nothing else is written: the caller decides what a match means.
ApiErrorCode matchDistinguishedName(std::string_view requested, std::string_view subject,
                                    std::string& commonName);

}  // namespace orva::api
