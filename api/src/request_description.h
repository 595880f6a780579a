#pragma once

// ParseRequestDescription: the text a page passes to ask for certificate
// requests, one or two items joined by "||", each
// DN(CN=v[,OU=v][,O=v])HASH(name)KEYTYPE(type)CERTTYPE(type).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace orva::api {

inline constexpr int kSm2KeyAlgId = 10;
inline constexpr int kRsa1024KeyAlgId = 2;
inline constexpr int kRsa2048KeyAlgId = 3;

// The subject text CN "||" OU "||" O, with its NUL, must fit this many bytes.
inline constexpr std::size_t kSubjectTextRoom = 1024;

// One key pair to make and its request. The subject's parts are kept apart,
// so a value ending in '|' cannot move the split between them.
struct CertRequestItem {
    int signForm = 0;       // container type - 1: the key's signing call takes it
    int containerType = 0;  // 3, 2 or 4: key generation, binding, the container's type word
    int keyBits = 0;
    int keyAlgId = 0;
    int hashId = 0;
    std::string cn;
    std::string ou;
    std::string o;

    // The length of CN "||" OU "||" O.
    std::size_t subjectTextLength() const noexcept { return cn.size() + ou.size() + o.size() + 4; }
};

// One or two items, in the description's order; the first failure stops the
// parse with its code (kInvalidParameter, kHashTypeError, kAsymIdTypeError or kCertUsageError).
Result<std::vector<CertRequestItem>> parseRequestDescription(std::string_view description);

}  // namespace orva::api
