#include "server_random.h"

#include <string_view>

#include "base64_codec.h"

namespace orva::api {

Result<ServerRandom> decodeServerRandom(const char* text) noexcept {
    if (text == nullptr || *text == '\0') {
        return kInvalidParameter;
    }
    const std::string_view base64(text);
    const std::optional<std::size_t> size = base64DecodedLength(base64);
    if (!size) {
        return kBase64DecodeError;
    }
    if (*size != kServerRandomSize) {
        return kInvalidParameter;
    }
    // The decoder wants room for the whole decoded size; it is exactly 15 here.
    ServerRandom decoded{};
    if (base64Decode(base64, decoded) != kServerRandomSize) {
        return kBase64DecodeError;
    }
    return decoded;
}

}  // namespace orva::api
