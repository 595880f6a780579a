#pragma once

// The subject of a certificate as QZAlgLib writes it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orva::qzalg {

// The longest subject text, in bytes, without its NUL.
constexpr std::size_t kSubjectMaxBytes = 1023;

// The subject of a DER certificate: its name's attributes from the last to the
// first as "SN=value" joined by ",", values in UTF-8 escaped as RFC 4514
// escapes them (\, \+ \" \\ \< \> \; a leading space or #, a trailing space),
// cut at a character boundary outside an escape to at most kSubjectMaxBytes
// bytes. Each attribute of a multi-valued name is an item of its own. The
// input must be one certificate and nothing more.
std::string certSubject(std::span<const std::uint8_t> der);

}  // namespace orva::qzalg
