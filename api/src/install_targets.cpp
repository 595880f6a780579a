#include "install_targets.h"

#include <openssl/err.h>

#include <array>
#include <climits>

#include "bound_function_table.h"
#include "container_walk.h"
#include "orva/openssl_ptr.h"
#include "signer_selection.h"

namespace orva::api {

namespace {

constexpr std::uint32_t kPublicKeyFileRoom = 1024;
// SM2: 01 00 | X | 01 00 | Y. RSA: bits (2 bytes) | modulus | exponent.
constexpr std::uint32_t kSm2PublicKeyFileSize = 68;
constexpr std::size_t kKeyOffset = 2;
constexpr std::size_t kSm2YOffset = 36;
constexpr std::size_t kSm2CoordinateSize = 32;
constexpr std::uint32_t kLongModulusFileSize = 256;
constexpr std::size_t kShortModulusSize = 128;
constexpr std::size_t kLongModulusSize = 256;

// Where the key sits in a certificate's subjectPublicKey, by the bit string's
// length: an RSAPublicKey's modulus with and without its leading zero byte, or
// an uncompressed EC point after its 04.
struct KeyPlace {
    int bitStringLength;
    std::size_t offset;
    std::size_t size;
};
constexpr KeyPlace kKeyPlaces[] = {
    {140, 7, 128}, {139, 6, 128}, {270, 9, 256}, {269, 8, 256}, {65, 1, 64},
};

// The size the key stores the public-key file in; none for an algorithm whose
// file would not fit the read's room.
[[nodiscard]] std::optional<std::uint32_t> expectedPublicKeyFileSize(
    std::uint32_t signAlgId) noexcept {
    const std::int32_t bits = boundFunctions().qzAlgLib.QZA_GetAsymKeyBits(signAlgId);
    if (bits == kSm2KeyBits) {
        return kSm2PublicKeyFileSize;
    }
    if (bits <= 0) {
        return std::nullopt;
    }
    const std::uint32_t size = static_cast<std::uint32_t>(bits) / 8 + 7;
    return size <= kPublicKeyFileRoom ? std::optional(size) : std::nullopt;
}

// The signature public key in the entries' form, interpreted by the length the
// read returns; none when the file does not read.
[[nodiscard]] std::optional<Bytes> readSignPublicKey(const DeviceSession& session,
                                                     const DRV_CONTAINER_INFO& info) {
    const std::optional<std::uint32_t> expected = expectedPublicKeyFileSize(info.signAlgId);
    if (!expected) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kPublicKeyFileRoom> file{};
    std::uint32_t length = *expected;
    if (!session.call(&DravikApi::QZReadFile, info.signPubKeyFid, 0, file.data(), &length).ok() ||
        length > kPublicKeyFileRoom) {
        return std::nullopt;
    }
    const auto at = [&](std::size_t offset) { return file.begin() + static_cast<long>(offset); };
    if (length == kSm2PublicKeyFileSize) {
        Bytes key(at(kKeyOffset), at(kKeyOffset + kSm2CoordinateSize));
        key.insert(key.end(), at(kSm2YOffset), at(kSm2YOffset + kSm2CoordinateSize));
        return key;
    }
    const std::size_t size = length < kLongModulusFileSize ? kShortModulusSize : kLongModulusSize;
    return Bytes(at(kKeyOffset), at(kKeyOffset + size));
}

}  // namespace

Result<std::vector<KeyContainerEntry>> listKeyContainersWithoutCert(const DeviceSession& session) {
    std::vector<KeyContainerEntry> targets;
    ContainerWalk walk(session);
    for (MakerStatus step = walk.next(); step.ok(); step = walk.next()) {
        // A record that does not read holds no key.
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info || info->signKeyPresent == 0 || info->signCertPresent != 0) {
            continue;
        }
        std::optional<Bytes> key = readSignPublicKey(session, *info);
        if (!key) {
            continue;
        }
        KeyContainerEntry entry;
        entry.type = static_cast<std::uint16_t>(info->type);
        entry.signPublicKeyFid = static_cast<std::uint8_t>(info->signPubKeyFid);
        entry.containerId = static_cast<std::uint16_t>(info->containerId);
        entry.name = std::string(walk.name());
        entry.publicKey = std::move(*key);
        targets.push_back(std::move(entry));
    }
    if (targets.empty()) {
        return kNothingFound;
    }
    return targets;
}

std::optional<Bytes> extractCertPublicKey(std::span<const std::uint8_t> der) {
    ERR_clear_error();
    if (der.size() > static_cast<std::size_t>(LONG_MAX)) {
        return std::nullopt;
    }
    const unsigned char* in = der.data();
    const X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(der.size())));
    if (!certificate) {
        ERR_clear_error();
        return std::nullopt;
    }
    const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(certificate.get());
    if (bits == nullptr) {
        return Bytes();
    }
    const unsigned char* data = ASN1_STRING_get0_data(bits);
    const int length = ASN1_STRING_length(bits);
    for (const KeyPlace& place : kKeyPlaces) {
        if (length == place.bitStringLength) {
            return Bytes(data + place.offset, data + place.offset + place.size);
        }
    }
    return Bytes();
}

}  // namespace orva::api
