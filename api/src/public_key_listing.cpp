#include "public_key_listing.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "bound_function_table.h"
#include "certificate_subject.h"
#include "container_walk.h"
#include "der_writer.h"
#include "distinguished_name.h"
#include "signer_cn.h"

namespace orva::api {

namespace {

constexpr std::int32_t kSm2Bits = 256;
constexpr std::size_t kSm2FileSize = 68;
constexpr std::size_t kSm2XOffset = 2;
constexpr std::size_t kSm2YOffset = 36;
constexpr std::size_t kSm2CoordinateSize = 32;
constexpr std::uint8_t kUncompressedPoint = 0x04;
// RSA: a 2-byte header, the modulus, then 5 bytes ending in the 3-byte exponent.
constexpr std::size_t kRsaModulusOffset = 2;
constexpr std::size_t kRsaFileOverhead = 7;
constexpr std::size_t kRsaExponentSize = 3;
// Public-key files and the id list are read into this much room.
constexpr std::uint32_t kKeyFileRoom = 1024;
constexpr std::uint32_t kIdListRoom = 1024;

}  // namespace

std::optional<PublicKeyFilter> publicKeyFilterNamed(std::string_view name) noexcept {
    if (name == "AllPubKey") {
        return PublicKeyFilter::all;
    }
    if (name == "NoCertPubKey") {
        return PublicKeyFilter::withoutCertificate;
    }
    if (name == "CertPubKey") {
        return PublicKeyFilter::withCertificate;
    }
    return std::nullopt;
}

std::optional<PublicKeyItem> selectPublicKey(const DRV_CONTAINER_INFO& info,
                                             PublicKeyFilter filter) {
    const auto accepts = [filter](std::uint32_t key, std::uint32_t certificate) {
        switch (filter) {
            case PublicKeyFilter::all:
                return key != 0;
            case PublicKeyFilter::withoutCertificate:
                return key != 0 && certificate == 0;
            case PublicKeyFilter::withCertificate:
                return key != 0 && certificate != 0;
        }
        return false;
    };
    const auto& qzAlgLib = boundFunctions().qzAlgLib;
    if (accepts(info.signKeyPresent, info.signCertPresent)) {
        return PublicKeyItem{info.signPubKeyFid, qzAlgLib.QZA_GetAsymKeyBits(info.signAlgId)};
    }
    if (accepts(info.exchKeyPresent, info.exchCertPresent)) {
        return PublicKeyItem{info.exchPubKeyFid, qzAlgLib.QZA_GetAsymKeyBits(info.exchAlgId)};
    }
    return std::nullopt;
}

std::optional<PublicKeyWalk> walkPublicKeys(const DeviceSession& session, PublicKeyFilter filter) {
    PublicKeyWalk found;
    ContainerWalk walk(session);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info) {
            return std::nullopt;
        }
        if (const auto item = selectPublicKey(*info, filter)) {
            found.items.push_back(*item);
        }
    }
    found.reachedEnd = step.is(DRV_END_OF_CONTAINERS);
    return found;
}

Result<std::vector<PublicKeyItem>> collectPublicKeyIds(const DeviceSession& session,
                                                       PublicKeyFilter filter) {
    std::optional<PublicKeyWalk> found = walkPublicKeys(session, filter);
    if (!found) {
        return kGetContainerInfoError;
    }
    if (!found->items.empty()) {
        return std::move(found->items);
    }
    return found->reachedEnd ? kNothingFound : kOperationFailed;
}

std::optional<Bytes> readPublicKeyIds(const DeviceSession& session) {
    Bytes ids(kIdListRoom, 0);
    std::uint32_t count = 0;
    if (!session.call(&DravikApi::QZGetPubKeyIDs, ids.data(), &count).ok() || count > kIdListRoom) {
        return std::nullopt;
    }
    ids.resize(count);
    return ids;
}

Result<Bytes> encodedPublicKey(const DeviceSession& session, const PublicKeyItem& item) {
    if (item.bits <= 0) {
        return kReadPublicKeyError;
    }
    const auto bits = static_cast<std::size_t>(item.bits);
    const std::size_t expected = item.bits == kSm2Bits ? kSm2FileSize : bits / 8 + kRsaFileOverhead;
    if (expected > kKeyFileRoom) {
        return kReadPublicKeyError;
    }
    std::array<std::uint8_t, kKeyFileRoom> file{};
    auto length = static_cast<std::uint32_t>(expected);
    if (!session.call(&DravikApi::QZReadFile, item.fileId, 0, file.data(), &length).ok() ||
        length != expected) {
        return kReadPublicKeyError;
    }
    Bytes key;
    if (item.bits == kSm2Bits) {
        key.assign(1, kUncompressedPoint);
        key.insert(key.end(), file.begin() + kSm2XOffset,
                   file.begin() + kSm2XOffset + kSm2CoordinateSize);
        key.insert(key.end(), file.begin() + kSm2YOffset,
                   file.begin() + kSm2YOffset + kSm2CoordinateSize);
        return key;
    }
    const std::span<const std::uint8_t> modulus(file.data() + kRsaModulusOffset, bits / 8);
    const std::span<const std::uint8_t> exponent(file.data() + expected - kRsaExponentSize,
                                                 kRsaExponentSize);
    std::optional<Bytes> der = encodeRsaPublicKey(modulus, exponent);
    if (!der) {
        return kDerEncodeError;
    }
    return std::move(*der);
}

std::optional<std::uint32_t> findPublicKeyIdByDn(const DeviceSession& session,
                                                 std::string_view name) {
    ContainerWalk walk(session);
    for (MakerStatus step = walk.next(); step.ok(); step = walk.next()) {
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info) {
            continue;
        }
        // A container with a whole signature pair is judged by it alone.
        const bool signature = info->signKeyPresent != 0 && info->signCertPresent != 0;
        const bool exchange = info->exchKeyPresent != 0 && info->exchCertPresent != 0;
        if (!signature && !exchange) {
            continue;
        }
        const std::optional<Bytes> certificate = readContainerCertificate(
            session, walk.index(), signature ? DRV_FILE_SIGN_CERT : DRV_FILE_EXCH_CERT);
        if (!certificate) {
            continue;
        }
        const Result<std::string> commonName =
            matchDistinguishedName(name, certificateSubject(*certificate));
        if (commonName) {
            setSignerCn(*commonName);
            return signature ? info->signPubKeyFid : info->exchPubKeyFid;
        }
    }
    return std::nullopt;
}

}  // namespace orva::api
