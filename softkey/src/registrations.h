#pragma once

// The system certificate store of a software key's world: registered.json in the
// store, {"registrations": [{"certificate": base64 DER, "provider": "...",
// "container": "...", "keySpec": n}, ...]}, one entry per certificate.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "store.h"

namespace orva::pelnor {

inline constexpr const char* kRegisteredFile = "registered.json";

struct Registration {
    softkey::Bytes certificate;
    std::string provider;
    std::string container;
    std::uint32_t keySpec = 0;
};

// Throws StoreError (malformed) when registered.json is not valid.
std::vector<Registration> readRegistrations(const softkey::Store& store);

// Records a registration, replacing one of the same certificate.
void registerCertificate(softkey::Store& store, const Registration& registration);

// Removes the registration of a certificate; false when there was none.
bool unregisterCertificate(softkey::Store& store, std::span<const std::uint8_t> certificate);

}  // namespace orva::pelnor
