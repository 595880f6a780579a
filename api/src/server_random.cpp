#include "server_random.h"

#include <string_view>

#include "base64_codec.h"

namespace orva::api {

Result<ServerRandom> decodeServerRandom(const char* text) noexcept {
    if (text == nullptr || *text == '\0') {
        return kInvalidParameter;
    }
    const std::string_view base64(text);
    std::size_t size = 0;
    if (base64DecodedLength(base64, size) != kBase64Ok) {
        return kBase64DecodeError;
    }
    if (size != kServerRandomSize) {
        return kInvalidParameter;
    }
    // The decoder wants room for the whole decoded size; it is exactly 15 here.
    ServerRandom decoded{};
    std::size_t written = 0;
    if (base64Decode(base64, decoded, written) != kBase64Ok || written != kServerRandomSize) {
        return kBase64DecodeError;
    }
    return decoded;
}

}  // namespace orva::api
