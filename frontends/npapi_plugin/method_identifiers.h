#pragma once

// The identifiers of the 38 method names (methods/method_table.h), in the same
// order.

#include <cstddef>
#include <optional>

#include "npapi/npapi.h"

namespace orva::npapi_plugin {

inline constexpr std::size_t kMethodCount = 38;

// Asks the browser for the 38 identifiers again.
void fetchMethodIdentifiers() noexcept;
// The position of identifier among the 38, if it is one of them.
std::optional<std::size_t> methodIndex(NPIdentifier identifier) noexcept;

}  // namespace orva::npapi_plugin
