#pragma once

// The certificates a bank returns for a key's certificate requests, as a page
// passes them: base64 items joined by "||", each a PKCS#7 SignedData that
// carries certificates or one DER certificate.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "byte_buffer.h"

namespace orva::api {

// Carriage returns, line feeds, blanks and commas are ignored and one PEM frame
// may stand around the whole text; a trailing "||" ends the list. Every item
// gives its end-entity certificate's DER. None when an item does not decode or
// yields no end-entity certificate; an empty text is an empty list.
[[nodiscard]] std::optional<std::vector<Bytes>> parseCertificateList(std::string_view text);

// The first end-entity certificate of a PKCS#7 SignedData's certificate set, or
// the bytes as one end-entity certificate: exactly its DER, which must fit a
// container's 4096-byte certificate file. None otherwise.
[[nodiscard]] std::optional<Bytes> extractEndEntityCertificate(std::span<const std::uint8_t> der);

}  // namespace orva::api
