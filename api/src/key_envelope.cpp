#include "key_envelope.h"

#include <array>

#include "base64_codec.h"

namespace orva::api {

namespace {

constexpr std::string_view kFieldSeparator = "||";
constexpr std::string_view kSm4CbcPrefix = "01";

// The base64 fields in order; field 1, the algorithm, has no part.
struct Part {
    Bytes KeyEnvelope::*bytes;
    std::size_t room;
};
constexpr std::size_t kAlgorithmField = 1;
constexpr std::array<Part, 5> kParts = {{
    {&KeyEnvelope::certificate, kEnvelopeCertificateRoom},
    {nullptr, 0},
    {&KeyEnvelope::partA, kEnvelopePartARoom},
    {&KeyEnvelope::partB, kEnvelopePartBRoom},
    {&KeyEnvelope::partC, kEnvelopePartCRoom},
}};

// A first look by characters: no more than the room's base64 length. The
// decoded size is what really decides.
bool checkBase64Fits(std::size_t field, std::size_t textLength) noexcept {
    if (field == kAlgorithmField || field >= kParts.size()) {
        return true;
    }
    return textLength > 0 && textLength <= (kParts[field].room + 2) / 3 * 4;
}

bool decodeEnvelopeField(std::size_t field, std::string_view text, KeyEnvelope& envelope) {
    if (field == kAlgorithmField) {
        envelope.algorithmWord =
            text.starts_with(kSm4CbcPrefix) ? kEnvelopeSm4Cbc : kEnvelopeSm4Ecb;
        return true;
    }
    if (field >= kParts.size() || !checkBase64Fits(field, text.size())) {
        return false;
    }
    // 5,464 characters may decode to 4,098 bytes: the bytes must fit too.
    std::optional<Bytes> decoded = base64Decode(text);
    if (!decoded || decoded->size() > kParts[field].room) {
        return false;
    }
    envelope.*kParts[field].bytes = std::move(*decoded);
    return true;
}

}  // namespace

std::optional<KeyEnvelope> parseKeyEnvelope(std::string_view text) {
    KeyEnvelope envelope;
    std::string_view rest = text;
    for (std::size_t field = 0; !rest.empty(); ++field) {
        const std::size_t separator = rest.find(kFieldSeparator);
        const std::string_view value = rest.substr(0, separator);
        rest = separator == std::string_view::npos
                   ? std::string_view()
                   : rest.substr(separator + kFieldSeparator.size());
        if (!decodeEnvelopeField(field, value, envelope)) {
            return std::nullopt;
        }
    }
    return envelope;
}

}  // namespace orva::api
