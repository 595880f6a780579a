#include "maker_base64.h"

#include <limits>

#include "base64_codec.h"
#include "bound_function_table.h"

namespace orva::api {

std::optional<std::string> makerBase64(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    // One byte more than the text, should the encoder terminate it.
    std::string text(base64EncodedLength(bytes.size()) + 1, '\0');
    if (boundFunctions().qzAlgLib.QZA_Base64_Encode(
            bytes.data(), static_cast<std::uint32_t>(bytes.size()), text.data()) == 0) {
        return std::nullopt;
    }
    text.pop_back();
    return text;
}

}  // namespace orva::api
