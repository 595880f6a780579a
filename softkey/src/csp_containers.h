#pragma once

// The CSP module's key containers, kept in the store beside the keys:
//   <root>/csp/<sha-256 of the name, hex>.json
// {"name": "<name bytes, hex>", "signature": {"key": PEM, "certificate": PEM},
//  "exchange": {...}}. A container name is up to 259 arbitrary bytes other
// than NUL; each change is one atomic replacement under the store's lock.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "secure_bytes.h"
#include "store.h"

namespace orva::softkey::csp {

inline constexpr std::size_t kMaxContainerName = 259;

struct KeyRecord {
    SecureString privatePem;
    std::optional<std::string> certificatePem;
};

struct Container {
    std::string name;
    std::optional<KeyRecord> exchange;   // AT_KEYEXCHANGE
    std::optional<KeyRecord> signature;  // AT_SIGNATURE

    // The slot of a legacy key type (1 or 2), or null for any other keySpec.
    std::optional<KeyRecord>* slot(std::uint32_t keySpec) noexcept;
    const std::optional<KeyRecord>* slot(std::uint32_t keySpec) const noexcept;
};

bool isValidContainerName(std::string_view name) noexcept;

// Names of the containers in the store, sorted by their bytes.
std::vector<std::string> containerNames(const Store& store);
std::optional<Container> readContainer(const Store& store, std::string_view name);
// Adds an empty container; false when one of that name exists.
bool createContainer(Store& store, std::string_view name);
// Replaces a container whole (creating it when absent).
void writeContainer(Store& store, const Container& container);
// Changes a container under the store's lock; false when it does not exist.
bool updateContainer(Store& store, std::string_view name,
                     const std::function<void(Container&)>& change);
// False when there was no such container.
bool eraseContainer(Store& store, std::string_view name);

std::string containerToJson(const Container& container);
// Throws StoreError (malformed) when the text is not a container.
Container containerFromJson(std::string_view text);

}  // namespace orva::softkey::csp
