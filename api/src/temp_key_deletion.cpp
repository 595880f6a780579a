// QZAPI_GMDelTempKey: deletes the containers a page names by the subject of
// their certificate or by the id of their key without a certificate (a key
// pair whose certificate was never installed).

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bound_function_table.h"
#include "byte_buffer.h"
#include "certificate_subject.h"
#include "container_id.h"
#include "container_walk.h"
#include "device_session.h"
#include "distinguished_name.h"
#include "export_guard.h"
#include "orva_api.h"
#include "status_event.h"
#include "token_status.h"

namespace orva::api {

namespace {

constexpr std::string_view kSeparator = "||";
constexpr std::size_t kMaxListItems = 8;
constexpr std::size_t kMaxIdTextChars = 32;

// A list split at "||" into at most 8 items, the eighth keeping any further
// separators; none when an item is empty.
[[nodiscard]] std::optional<std::vector<std::string_view>> splitList(std::string_view text) {
    std::vector<std::string_view> items;
    std::string_view rest = text;
    while (items.size() + 1 < kMaxListItems) {
        const std::size_t at = rest.find(kSeparator);
        if (at == std::string_view::npos) {
            break;
        }
        items.push_back(rest.substr(0, at));
        rest.remove_prefix(at + kSeparator.size());
    }
    items.push_back(rest);
    if (std::ranges::any_of(items, [](std::string_view item) { return item.empty(); })) {
        return std::nullopt;
    }
    return items;
}

// The key without a certificate a container holds: its public-key file id.
[[nodiscard]] std::optional<std::uint32_t> uncertifiedKeyId(const DRV_CONTAINER_INFO& info) {
    if (info.signKeyPresent != 0 && info.signCertPresent == 0) {
        return info.signPubKeyFid;
    }
    if (info.exchKeyPresent != 0 && info.exchCertPresent == 0) {
        return info.exchPubKeyFid;
    }
    return std::nullopt;
}

// The subject a container is named by: its signature certificate's when it
// holds a whole signature pair, else its exchange certificate's.
[[nodiscard]] std::optional<std::string> namingSubject(const DeviceSession& session,
                                                       std::uint32_t index,
                                                       const DRV_CONTAINER_INFO& info) {
    std::uint32_t file = 0;
    if (info.signKeyPresent != 0 && info.signCertPresent != 0) {
        file = DRV_FILE_SIGN_CERT;
    } else if (info.exchKeyPresent != 0 && info.exchCertPresent != 0) {
        file = DRV_FILE_EXCH_CERT;
    } else {
        return std::nullopt;
    }
    const std::optional<Bytes> certificate = readContainerCertificate(session, index, file);
    if (!certificate) {
        return std::nullopt;
    }
    return certificateSubject(*certificate);
}

ApiErrorCode deleteTempKeys(const DeviceSession& session, const std::string* names, int namesLength,
                            std::string_view idText) {
    std::vector<std::string_view> nameItems;
    if (names && namesLength != 0 && !names->empty()) {
        const auto split = splitList(*names);
        if (!split) {
            return kInvalidParameter;
        }
        nameItems = *split;
    }
    std::vector<std::uint32_t> idItems;
    if (!idText.empty()) {
        const auto split = splitList(idText);
        if (!split) {
            return kInvalidParameter;
        }
        for (const std::string_view item : *split) {
            const std::optional<std::uint32_t> id = parseContainerId(item);
            if (!id) {
                return kInvalidParameter;
            }
            idItems.push_back(*id);
        }
    }
    if (nameItems.empty() && idItems.empty()) {
        return kInvalidParameter;
    }
    std::vector<std::uint32_t> doomed;
    std::size_t idMatches = 0;
    std::size_t nameMatches = 0;
    ContainerWalk walk(session);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        // A container whose information cannot be read is named by nothing.
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info) {
            continue;
        }
        if (!idItems.empty()) {
            if (const auto keyId = uncertifiedKeyId(*info)) {
                if (std::ranges::find(idItems, *keyId) != idItems.end()) {
                    doomed.push_back(walk.index());
                    ++idMatches;
                }
            }
        }
        if (!nameItems.empty()) {
            if (const auto subject = namingSubject(session, walk.index(), *info)) {
                // Compared item by item, unescaped: a name as the key lists
                // it, or as a page wrote it without escapes.
                if (std::ranges::any_of(nameItems, [&](std::string_view name) {
                        return sameDistinguishedName(name, *subject);
                    })) {
                    doomed.push_back(walk.index());
                    ++nameMatches;
                }
            }
        }
    }
    // Nothing is deleted from a walk that failed part way. Matches count
    // containers: a name on two containers makes up for one that is on none.
    const bool walkFailed = !step.is(DRV_END_OF_CONTAINERS);
    if (walkFailed || idMatches != idItems.size() || nameMatches < nameItems.size()) {
        return kNoMatchCertificate;
    }
    // A container both tests chose goes to the key once.
    std::ranges::sort(doomed);
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    if (const ApiErrorCode code = verifyPinOnKey(session, kVerifyPinError); code != kSuccess) {
        return code;
    }
    if (const ApiErrorCode code = session
                                      .call(&DravikApi::QZDelMultiContainers, doomed.data(),
                                            static_cast<std::uint32_t>(doomed.size()))
                                      .mapped(kDeletePublicKeyError);
        code != kSuccess) {
        return code;
    }
    // Keyed on the length given, not on what was deleted.
    if (namesLength != 0) {
        signalStatusChangeEvent();
    }
    return kSuccess;
}

ApiErrorCode gmDelTempKey(const char* certDn, int length, const char* publicKeyId) {
    // A negative length is refused as no length at all.
    if (length < 0 || ((!certDn || length == 0) && !publicKeyId)) {
        return kInvalidParameter;
    }
    std::string_view idText;
    if (publicKeyId) {
        const std::size_t idChars = strnlen(publicKeyId, kMaxIdTextChars + 1);
        if (idChars > kMaxIdTextChars) {
            return kInvalidParameter;
        }
        idText = std::string_view(publicKeyId, idChars);
    }
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    // The first length bytes, up to a NUL inside them: never past the text.
    std::optional<std::string> names;
    if (certDn && length != 0) {
        names.emplace(certDn, strnlen(certDn, static_cast<std::size_t>(length)));
    }
    return deleteTempKeys(session, names ? &*names : nullptr, length, idText);
}

}  // namespace

}  // namespace orva::api

extern "C" int QZAPI_GMDelTempKey(const char* certDn, int length, const char* publicKeyId) {
    return orva::api::guardedExport(
        [&] { return orva::api::gmDelTempKey(certDn, length, publicKeyId); });
}
