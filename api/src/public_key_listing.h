#pragma once

// What the public-key exports share: the filters that pick one key per
// container, the key's list of public-key file ids, the public-key files in
// the encodings pages get, and the search of a key by its certificate's name.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "byte_buffer.h"
#include "device_session.h"
#include "maker/dravik.h"
#include "result.h"

namespace orva::api {

enum class PublicKeyFilter {
    all,                 // "AllPubKey": the key is present
    withoutCertificate,  // "NoCertPubKey": present, its certificate not
    withCertificate,     // "CertPubKey": both present
};

// The filter a page names (exactly, case-sensitive).
[[nodiscard]] std::optional<PublicKeyFilter> publicKeyFilterNamed(std::string_view name) noexcept;

// One key a container gives a listing: its public-key file id and key size.
struct PublicKeyItem {
    std::uint32_t fileId = 0;
    std::int32_t bits = 0;
};

// The container's signature key when the filter accepts it, else its exchange
// key when the filter accepts that.
[[nodiscard]] std::optional<PublicKeyItem> selectPublicKey(const DRV_CONTAINER_INFO& info,
                                                           PublicKeyFilter filter);

// What the walk of the listings found: one item per container the filter
// accepts, and whether the walk reached the end of the containers (else a step
// failed after the items found so far).
struct PublicKeyWalk {
    std::vector<PublicKeyItem> items;
    bool reachedEnd = false;
};

// The walk of the listings; nothing when a container's information cannot be
// read (kGetContainerInfoError to the caller).
[[nodiscard]] std::optional<PublicKeyWalk> walkPublicKeys(const DeviceSession& session,
                                                          PublicKeyFilter filter);

// CollectPublicKeyIds: one item per container the filter accepts. kGetContainerInfoError when a
// container's information cannot be read; after a failed walk step the items
// found so far, or kOperationFailed when there are none; kNothingFound when the walk ends with
// none.
Result<std::vector<PublicKeyItem>> collectPublicKeyIds(const DeviceSession& session,
                                                       PublicKeyFilter filter);

// QZGetPubKeyIDs: the ids in the key's order; nothing when the key refuses or
// reports more than its 1024-byte room.
[[nodiscard]] std::optional<Bytes> readPublicKeyIds(const DeviceSession& session);

// The public-key file of an item in a listing's encoding: SM2 (256 bits) as
// 04 X Y (65 bytes), RSA as DER RSAPublicKey of the modulus and the file's last
// three bytes. kReadPublicKeyError when the file cannot be read or is not exactly the size its
// key needs (a key size of 0 included); kDerEncodeError when the RSA key cannot be encoded.
Result<Bytes> encodedPublicKey(const DeviceSession& session, const PublicKeyItem& item);

// FindPublicKeyIdByDn: the public-key file id of the first container whose
// certificate's subject MatchDistinguishedName accepts; the signature
// certificate when the container holds a signature key and certificate, else
// the exchange ones. A match sets SignerCn. Nothing when none matches
// (kNoCertificate to the caller).
[[nodiscard]] std::optional<std::uint32_t> findPublicKeyIdByDn(const DeviceSession& session,
                                                               std::string_view name);

}  // namespace orva::api
