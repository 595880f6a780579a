// Input: byte 0 picks the builder (bit 0: SM2, else RSA with hash id 3 + the
// rest of byte 0 modulo 5); the rest is the certificate as read from the key.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "der_writer.h"
#include "pkcs7_signed_data.h"

namespace api = orva::api;

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// A built SignedData is one SEQUENCE filling exactly the length announced.
void checkWhole(std::span<const std::uint8_t> out) {
    const std::optional<api::DerElement> element = api::readDerSequence(out);
    check(element && element->tlv.size() == out.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool sm2 = (data[0] & 1) != 0;
    const int hashId = 3 + (data[0] >> 1) % 5;
    const std::span<const std::uint8_t> certificate(data + 1, size - 1);
    static constexpr std::uint8_t kContent[] = {'P', 'a', 'y', ' ', '1', '0', '0'};
    // r and s with the high bit set: the longest SM2 encoding.
    std::vector<std::uint8_t> signature(api::kSm2SignatureSize, 0xFF);

    const std::optional<api::Bytes> issuerAndSerial = api::extractIssuerAndSerial(certificate);
    if (issuerAndSerial) {
        checkWhole(*issuerAndSerial);
    }

    auto build = [&](std::span<std::uint8_t> out) {
        return sm2 ? api::buildPkcs7SignedDataSm2(kContent, api::kContentEmbedded, certificate,
                                                  signature, out)
                   : api::buildPkcs7SignedDataRsa(kContent, api::kContentEmbedded, certificate,
                                                  signature, out, hashId);
    };
    // A size query, then exactly that room; one byte less is refused and
    // leaves the room as it was.
    const std::optional<std::size_t> length = build({});
    check(length.has_value() == issuerAndSerial.has_value());
    if (!length) {
        return 0;
    }
    std::vector<std::uint8_t> out(*length);
    check(build(out) == length);
    checkWhole(out);
    std::vector<std::uint8_t> shorter(*length - 1, 0x5A);
    check(!build(shorter) &&
          std::all_of(shorter.begin(), shorter.end(), [](std::uint8_t b) { return b == 0x5A; }));
    if (sm2) {
        const std::optional<std::size_t> bound =
            api::pkcs7SignedDataSm2SizeBound(kContent, certificate);
        check(bound && *length <= *bound);
    }
    return 0;
}
