// Input: the whole input is the envelope text a page passes.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "key_envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orva::api;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto envelope = parseKeyEnvelope(text);
    if (!envelope) {
        return 0;
    }
    // No part holds more than its room.
    if (envelope->certificate.size() > kEnvelopeCertificateRoom ||
        envelope->partA.size() > kEnvelopePartARoom ||
        envelope->partB.size() > kEnvelopePartBRoom ||
        envelope->partC.size() > kEnvelopePartCRoom) {
        __builtin_trap();
    }
    const std::uint32_t word = envelope->algorithmWord;
    if (word != 0 && word != kEnvelopeSm4Ecb && word != kEnvelopeSm4Cbc) {
        __builtin_trap();
    }
    return 0;
}
