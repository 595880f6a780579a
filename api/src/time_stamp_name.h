#pragma once

// MakeTimeStampName: the digits that name a signature file.

#include <optional>
#include <string>

namespace orva::api {

// Local time as "YYYYMMDDhhmmss" and four random digits: 18 digits. The digits
// come from OpenSSL's generator, so the process's rand() is neither reseeded
// nor used. None when the time or the generator fails.
[[nodiscard]] std::optional<std::string> makeTimeStampName();

// count (1 to 9) decimal digits, each value equally likely, from OpenSSL's
// generator; none when it fails.
[[nodiscard]] std::optional<std::string> randomDigits(int count);

}  // namespace orva::api
