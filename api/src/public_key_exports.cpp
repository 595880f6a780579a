// Exports that list the key's public keys: plain, or enciphered by the key
// for its issuer, and their count.

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "admin_key_state.h"
#include "base64_codec.h"
#include "bound_function_table.h"
#include "container_walk.h"
#include "device_session.h"
#include "export_guard.h"
#include "orva_api.h"
#include "public_key_listing.h"
#include "server_random.h"
#include "sized_output.h"

namespace orva::api {

namespace {

constexpr std::string_view kSeparator = "||";
// Enciphered blocks come back in this much room.
constexpr std::uint32_t kEncipheredRoom = 2048;
// QZGetEncPubKey is told half of it.
constexpr std::uint32_t kEncipheredKeyLength = 1024;
constexpr std::size_t kIdItemChars = 2;
constexpr std::uint32_t kMaxEightBitId = 0xFF;

// Key types of QZGetEncPubKey_New: keys named by id, or by certificate name.
constexpr std::uint8_t kKeyTypeById = 1;
constexpr std::uint8_t kKeyTypeByName = 2;

// The library's base64 of a listing item; none when no memory is left for it.
[[nodiscard]] std::optional<std::string> listingBase64(std::span<const std::uint8_t> bytes) {
    try {
        return base64Encode(bytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void dropTrailingSeparator(std::string& text) {
    if (text.size() > kSeparator.size() && text.ends_with(kSeparator)) {
        text.resize(text.size() - kSeparator.size());
    }
}

ApiErrorCode gmGetPubkeyInfo(const char* filterName, char* buffer, int* length) {
    if (!filterName || *filterName == '\0' || !length) {
        return kInvalidParameter;
    }
    const std::optional<PublicKeyFilter> filter = publicKeyFilterNamed(filterName);
    if (!filter) {
        return kInvalidParameter;
    }
    return withSizedOutput(buffer, length, [&](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = session.open(); code != kSuccess) {
            return code;
        }
        const std::optional<Bytes> ids = readPublicKeyIds(session);
        if (!ids) {
            return kOperationFailed;
        }
        if (ids->empty()) {
            return kSuccess;
        }
        // A failed step still lists what the walk found, then fails.
        const std::optional<PublicKeyWalk> found = walkPublicKeys(session, *filter);
        if (!found) {
            return kGetContainerInfoError;
        }
        const ApiErrorCode result = found->reachedEnd ? kSuccess : kOperationFailed;
        // In the key's id order, each as "%02d" id and base64, no separator
        // between them.
        for (const std::uint8_t id : *ids) {
            for (const PublicKeyItem& item : found->items) {
                if (item.fileId != id) {
                    continue;
                }
                const Result<Bytes> key = encodedPublicKey(session, item);
                if (!key) {
                    return key.code();
                }
                const std::optional<std::string> encoded = listingBase64(*key);
                if (!encoded) {
                    return kBase64EncodeError;
                }
                std::array<char, 16> prefix{};
                std::snprintf(prefix.data(), prefix.size(), "%02u", item.fileId);
                text += prefix.data();
                text += *encoded;
                text += kSeparator;
            }
        }
        dropTrailingSeparator(text);
        return result;
    });
}

// DnOrID split at "||" into one or two items; none for three or more.
[[nodiscard]] std::optional<std::vector<std::string_view>> splitKeyNames(std::string_view text) {
    std::vector<std::string_view> items;
    const std::size_t at = text.find(kSeparator);
    if (at == std::string_view::npos) {
        items.push_back(text);
    } else {
        items.push_back(text.substr(0, at));
        items.push_back(text.substr(at + kSeparator.size()));
        if (items.back().find(kSeparator) != std::string_view::npos) {
            return std::nullopt;
        }
    }
    return items;
}

// Key type "01": ids of keys without a certificate, two digits each.
Result<Bytes> idsOfUncertifiedKeys(const DeviceSession& session,
                                   const std::vector<std::string_view>& items) {
    std::vector<long> wanted;
    for (const std::string_view item : items) {
        if (item.size() != kIdItemChars) {
            return kInvalidParameter;
        }
        const std::string digits(item);
        wanted.push_back(std::strtol(digits.c_str(), nullptr, 10));
    }
    const Result<std::vector<PublicKeyItem>> keys =
        collectPublicKeyIds(session, PublicKeyFilter::withoutCertificate);
    if (!keys) {
        return kGetContainerInfoError;
    }
    Bytes ids;
    for (const long id : wanted) {
        const bool found = std::ranges::any_of(
            *keys, [id](const PublicKeyItem& key) { return static_cast<long>(key.fileId) == id; });
        if (!found || id < 0 || id > static_cast<long>(kMaxEightBitId)) {
            return kInvalidParameter;
        }
        ids.push_back(static_cast<std::uint8_t>(id));
    }
    return ids;
}

// Key type "02": the keys whose certificates the names match.
Result<Bytes> idsOfNamedKeys(const DeviceSession& session,
                             const std::vector<std::string_view>& items) {
    Bytes ids;
    for (const std::string_view name : items) {
        // An empty name would match the first certificate with any name.
        if (name.empty()) {
            return kInvalidParameter;
        }
        const std::optional<std::uint32_t> fileId = findPublicKeyIdByDn(session, name);
        if (!fileId) {
            return kNoCertificate;
        }
        if (*fileId > kMaxEightBitId) {
            return kReadPublicKeyError;
        }
        ids.push_back(static_cast<std::uint8_t>(*fileId));
    }
    return ids;
}

ApiErrorCode gmGetPubkeyInfoC(const char* keyType, const char* dnOrId, const char* serverRandom,
                              char* buffer, int* length) {
    if (!dnOrId || *dnOrId == '\0' || !serverRandom || *serverRandom == '\0' || !length) {
        return kInvalidParameter;
    }
    if (!keyType || (std::strcmp(keyType, "01") != 0 && std::strcmp(keyType, "02") != 0)) {
        return kInvalidParameter;
    }
    const bool byId = std::strcmp(keyType, "01") == 0;
    const std::string names(dnOrId);
    const std::optional<std::vector<std::string_view>> items = splitKeyNames(names);
    if (!items) {
        return kInvalidParameter;
    }
    const Result<ServerRandom> random = decodeServerRandom(serverRandom);
    if (!random) {
        return random.code();
    }
    return withSizedOutput(buffer, length, [&](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = openInAdminKeyState(session, kAdminKeyUpdated);
            code != kSuccess) {
            return code;
        }
        const Result<Bytes> ids =
            byId ? idsOfUncertifiedKeys(session, *items) : idsOfNamedKeys(session, *items);
        if (!ids) {
            return ids.code();
        }
        std::vector<std::uint8_t> block(kEncipheredRoom, 0);
        std::uint32_t blockLength = kEncipheredRoom;
        if (!session
                 .call(&DravikApi::QZGetEncPubKey_New, byId ? kKeyTypeById : kKeyTypeByName,
                       ids->data(), static_cast<std::uint32_t>(ids->size()), random->data(),
                       block.data(), &blockLength)
                 .ok() ||
            blockLength > kEncipheredRoom) {
            return kReadPublicKeyError;
        }
        block.resize(blockLength);
        text = base64Encode(block);
        return kSuccess;
    });
}

ApiErrorCode getPublicKeyC(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [&](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = openInAdminKeyState(session, kAdminKeyInitial);
            code != kSuccess) {
            return code;
        }
        const std::optional<Bytes> ids = readPublicKeyIds(session);
        if (!ids) {
            return kOperationFailed;
        }
        if (ids->empty()) {
            return kNothingFound;
        }
        // Each container's signature key, else its exchange key; a failed
        // step keeps what was found.
        std::vector<std::uint32_t> fileIds;
        ContainerWalk walk(session);
        MakerStatus step = walk.next();
        for (; step.ok(); step = walk.next()) {
            const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
            if (!info) {
                return kGetContainerInfoError;
            }
            if (info->signKeyPresent != 0) {
                fileIds.push_back(info->signPubKeyFid);
            } else if (info->exchKeyPresent != 0) {
                fileIds.push_back(info->exchPubKeyFid);
            }
        }
        const ApiErrorCode fallback =
            step.is(DRV_END_OF_CONTAINERS) ? kNothingFound : kOperationFailed;
        // From the key's last id to its first, without an id prefix.
        for (auto id = ids->rbegin(); id != ids->rend(); ++id) {
            for (const std::uint32_t fileId : fileIds) {
                if (fileId != *id) {
                    continue;
                }
                std::vector<std::uint8_t> block(kEncipheredRoom, 0);
                std::uint32_t blockLength = kEncipheredKeyLength;
                if (!session.call(&DravikApi::QZGetEncPubKey, *id, block.data(), &blockLength)
                         .ok() ||
                    blockLength > kEncipheredKeyLength) {
                    return kReadPublicKeyError;
                }
                block.resize(blockLength);
                text += base64Encode(block);
                text += kSeparator;
            }
        }
        if (text.size() <= kSeparator.size()) {
            return fallback;
        }
        dropTrailingSeparator(text);
        return kSuccess;
    });
}

ApiErrorCode getPublicKeyNum(int* count) {
    if (!count) {
        return kInvalidParameter;
    }
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    int found = 0;
    ContainerWalk walk(session);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info) {
            return kGetContainerInfoError;
        }
        if (info->signKeyPresent != 0 || info->exchKeyPresent != 0) {
            ++found;
        }
    }
    if (!step.is(DRV_END_OF_CONTAINERS)) {
        return kOperationFailed;
    }
    *count = found;
    return kSuccess;
}

}  // namespace

}  // namespace orva::api

using orva::api::guardedExport;

extern "C" int QZAPI_GMGetPubkeyInfo(const char* filter, char* buffer, int* length) {
    return guardedExport([&] { return orva::api::gmGetPubkeyInfo(filter, buffer, length); });
}

extern "C" int QZAPI_GMGetPubkeyInfoC(const char* keyType, const char* dnOrId,
                                      const char* serverRandom, char* buffer, int* length) {
    return guardedExport(
        [&] { return orva::api::gmGetPubkeyInfoC(keyType, dnOrId, serverRandom, buffer, length); });
}

extern "C" int QZAPI_GetPublicKeyC(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::getPublicKeyC(buffer, length); });
}

extern "C" int QZAPI_GetPublicKeyNum(int* count) {
    return guardedExport([&] { return orva::api::getPublicKeyNum(count); });
}
