// Input: byte 0 picks the builder (bit 0: SM2, else RSA with hash id 3 + the
// rest of byte 0 modulo 5); the rest is the certificate as read from the key.

#include <cstddef>
#include <cstdint>
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
    api::DerElement element;
    check(api::readDerSequence(out, element) == api::kDerReadOk &&
          element.tlv.size() == out.size());
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

    api::Bytes issuerAndSerial;
    const bool walked = api::extractIssuerAndSerial(certificate, issuerAndSerial);
    if (walked) {
        api::DerElement element;
        check(api::readDerSequence(issuerAndSerial, element) == api::kDerReadOk &&
              element.tlv.size() == issuerAndSerial.size());
    }

    auto build = [&](std::span<std::uint8_t> out, std::size_t& length) {
        return sm2 ? api::buildPkcs7SignedDataSm2(kContent, api::kContentEmbedded, certificate,
                                                  signature, out, length)
                   : api::buildPkcs7SignedDataRsa(kContent, api::kContentEmbedded, certificate,
                                                  signature, out, length, hashId);
    };
    // A size query, then exactly that room; one byte less is refused and
    // leaves the length as it was.
    std::size_t length = 0;
    const bool sized = build({}, length);
    check(sized == walked);
    if (!sized) {
        return 0;
    }
    std::vector<std::uint8_t> out(length);
    std::size_t written = 0;
    check(build(out, written) && written == length);
    checkWhole(out);
    std::size_t unchanged = 7;
    check(!build(std::span(out).first(length - 1), unchanged) && unchanged == 7);
    if (sm2) {
        std::size_t bound = 0;
        check(api::pkcs7SignedDataSm2SizeBound(kContent, certificate, bound) && length <= bound);
    }
    return 0;
}
