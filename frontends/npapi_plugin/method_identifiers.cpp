// The method identifiers, process-wide.

#include "method_identifiers.h"

#include <array>

#include "browser_functions.h"
#include "methods/method_table.h"

namespace orva::npapi_plugin {

namespace {

std::array<NPIdentifier, kMethodCount> identifiers{};

}  // namespace

void fetchMethodIdentifiers() noexcept {
    for (std::size_t i = 0; i < kMethodCount; ++i) {
        // The names are NUL-terminated literals.
        identifiers[i] = NPN_GetStringIdentifier(kMethodRows[i].name.data());
    }
}

std::optional<std::size_t> methodIndex(NPIdentifier identifier) noexcept {
    if (identifier == nullptr) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kMethodCount; ++i) {
        if (identifiers[i] == identifier) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace orva::npapi_plugin
