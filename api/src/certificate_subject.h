#pragma once

// The subject text of a certificate, as the algorithm library decodes it and
// as pages see and pass it back: "CN=..,OU=..,O=..".

#include <cstdint>
#include <span>
#include <string>

namespace orva::api {

// The subject of a DER certificate; empty when it does not decode (the
// decoder's result is not consulted, only the text it leaves).
std::string certificateSubject(std::span<const std::uint8_t> certificate);

}  // namespace orva::api
