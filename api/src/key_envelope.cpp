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

// "01..." selects SM4-CBC; anything else, an empty field too, SM4-ECB.
std::uint32_t algorithmWordOf(std::string_view text) noexcept {
    return text.starts_with(kSm4CbcPrefix) ? kEnvelopeSm4Cbc : kEnvelopeSm4Ecb;
}

// The bytes of a base64 field, non-empty and within its part's room.
[[nodiscard]] std::optional<Bytes> decodeEnvelopePart(const Part& part, std::string_view text) {
    // A first look by characters: no more than the room's base64 length.
    if (text.empty() || text.size() > (part.room + 2) / 3 * 4) {
        return std::nullopt;
    }
    // The decoded size is what really decides: 5,464 characters may decode to
    // 4,098 bytes.
    std::optional<Bytes> decoded = base64Decode(text);
    if (!decoded || decoded->size() > part.room) {
        return std::nullopt;
    }
    return decoded;
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
        if (field == kAlgorithmField) {
            envelope.algorithmWord = algorithmWordOf(value);
            continue;
        }
        if (field >= kParts.size()) {
            return std::nullopt;
        }
        std::optional<Bytes> part = decodeEnvelopePart(kParts[field], value);
        if (!part) {
            return std::nullopt;
        }
        envelope.*kParts[field].bytes = std::move(*part);
    }
    return envelope;
}

}  // namespace orva::api
