#pragma once

// Names of the product that several parts of the library use.

namespace orva::api {

// The product's CryptoAPI provider registration: names the uninstall entry, the
// status-change event and the provider the key's certificates are registered with.
inline constexpr const char* kProviderName = "Korvane CSP ORVA V1.0";

}  // namespace orva::api
