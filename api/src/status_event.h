#pragma once

// The status-change event that tells the key-management tool the key's
// contents changed. The tool owns the event; the library only sets it.

#include <string_view>

#include "orva/registration.h"

namespace orva::api {

inline constexpr const char* kStatusChangeEventName =
    "ZEDIDUzaZavi_Status_Change_Event_Korvane CSP ORVA V1.0";
static_assert(std::string_view(kStatusChangeEventName).ends_with(kProviderName),
              "the event is named after the provider");

// Opens the event and sets it; when it does not exist nothing happens.
void signalStatusChangeEvent() noexcept;

}  // namespace orva::api
