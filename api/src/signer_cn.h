#pragma once

// SignerCn: the common name of the certificate chosen last for a signature.
// Signature files are named after it.

#include <string>
#include <string_view>

namespace orva::api {

// SignerCn := at most 255 bytes of the name, cut before a UTF-8 character that
// would not fit whole.
void setSignerCn(std::string_view commonName) noexcept;

std::string_view signerCn() noexcept;

// The name as one safe file-name component: path separators, control
// characters and <>:"|?* become '_', as does a leading '.', so that it can
// never leave its folder or hide; an empty name is "unknown".
std::string fileNameSafe(std::string_view commonName);

}  // namespace orva::api
