#include "cert_requests.h"

#include <cstring>
#include <memory>
#include <vector>

#include "base64_codec.h"
#include "cert_request_builder.h"
#include "device_session.h"
#include "sized_output.h"
#include "win32/system.h"

namespace orva::api {

namespace {

constexpr std::string_view kRequestSeparator = "||";
constexpr std::size_t kSizeQueryMargin = 512;
constexpr std::uint32_t kSm2GenerationBlock = 68;
constexpr std::size_t kSm2PointOffset = 2;  // X || Y follow two header bytes
constexpr std::size_t kSm2PointSize = 64;
constexpr std::uint32_t kRsaBlockExtra = 7;
constexpr std::uint32_t kKeepPinFlag = 1;
constexpr std::uint32_t kGenerateFlag = 1;

struct RpcStringFree {
    void operator()(RPC_CSTR text) const noexcept { RpcStringFreeA(&text); }
};

// What a size query answers: per item ((subject + key bits) + 2) / 3 * 4 + 512,
// and the separator between two.
int sizeQueryLength(const std::vector<CertRequestItem>& items) noexcept {
    std::size_t total = 0;
    for (const CertRequestItem& item : items) {
        const std::size_t units = item.subjectTextLength() + static_cast<std::size_t>(item.keyBits);
        total += (units + 2) / 3 * 4 + kSizeQueryMargin;
    }
    if (items.size() > 1) {
        total += kRequestSeparator.size();
    }
    return static_cast<int>(total);
}

// The DER of one item's request, signed by the new key pair made for it.
Result<Bytes> makeRequest(const DeviceSession& session, const char* pin,
                          const CertRequestItem& item, std::uint32_t pinFlag) {
    const Result<KeyContainer> container = createKeyContainer(session, pin, item, pinFlag);
    if (!container) {
        return container.code();
    }
    const Result<X509ReqPtr> request = buildCertRequest(item, container->publicKey);
    if (!request) {
        return request.code();
    }
    // The PIN must still stand before the key signs; an unmapped refusal here
    // is kDeletePublicKeyError.
    if (const ApiErrorCode code =
            session.call(&DravikApi::QZVerifyPIN, DRV_PIN_USER, nullptr, 0, nullptr, kKeepPinFlag)
                .mapped(kDeletePublicKeyError);
        code != kSuccess) {
        return code;
    }
    std::optional<Bytes> der =
        signCertRequest(session, container->privateKeyFid, item, container->publicKey, **request);
    if (!der) {
        return kMakeRequestError;
    }
    return std::move(*der);
}

}  // namespace

std::optional<std::string> makeUuidContainerName() {
    UUID uuid{};
    RPC_CSTR text = nullptr;
    if (UuidCreate(&uuid) != RPC_S_OK || UuidToStringA(&uuid, &text) != RPC_S_OK) {
        return std::nullopt;
    }
    const std::unique_ptr<unsigned char, RpcStringFree> owner(text);
    return std::string(reinterpret_cast<const char*>(text));
}

Result<KeyContainer> createKeyContainer(const DeviceSession& session, const char* pin,
                                        const CertRequestItem& item, std::uint32_t pinFlag) {
    KeyContainer container;
    // A new container under a fresh name, and a free file for the key pair.
    std::optional<std::string> name = makeUuidContainerName();
    if (!name) {
        return kNewContainerError;
    }
    if (const ApiErrorCode code =
            session.call(&DravikApi::QZNewContainer, name->c_str(), 0, &container.index)
                .checked(kNewContainerError);
        code != kSuccess) {
        return code;
    }
    container.name = std::move(*name);
    if (const ApiErrorCode code =
            session.call(&DravikApi::QZGetFreePriKeyFID, &container.privateKeyFid)
                .checked(kGetAsymKeyError);
        code != kSuccess) {
        return code;
    }

    const bool withPin = pin != nullptr && *pin != '\0';
    if (const ApiErrorCode code =
            session
                .call(&DravikApi::QZVerifyPIN, DRV_PIN_USER, withPin ? pin : nullptr,
                      withPin ? static_cast<std::uint32_t>(std::strlen(pin)) : 0, nullptr, pinFlag)
                .mapped(kVerifyPinError);
        code != kSuccess) {
        return code;
    }

    // The key pair, bound to the container as its signature key.
    const auto algId = static_cast<std::uint32_t>(item.keyAlgId);
    const auto containerType = static_cast<std::uint32_t>(item.containerType);
    std::uint32_t blockLength = item.keyAlgId == kSm2KeyAlgId
                                    ? kSm2GenerationBlock
                                    : static_cast<std::uint32_t>(item.keyBits) / 8 + kRsaBlockExtra;
    Bytes block(blockLength);
    if (!session
             .call(&DravikApi::QZAsymGenerateKeyPair, algId, containerType, container.privateKeyFid,
                   block.data(), &blockLength, kGenerateFlag)
             .ok() ||
        blockLength > block.size()) {
        return kGenerateAsymKeyError;
    }
    block.resize(blockLength);
    if (const ApiErrorCode code = session
                                      .call(&DravikApi::QZBindPriKeyToContainer, container.index,
                                            container.privateKeyFid, containerType, algId)
                                      .checked(kAddAsymKeyToContainerError);
        code != kSuccess) {
        return code;
    }

    // A short SM2 block gives no point, which the request's builder refuses.
    if (item.keyAlgId != kSm2KeyAlgId) {
        container.publicKey = std::move(block);
    } else if (block.size() >= kSm2PointOffset + kSm2PointSize) {
        container.publicKey.assign(block.begin() + kSm2PointOffset,
                                   block.begin() + kSm2PointOffset + kSm2PointSize);
    }
    return container;
}

ApiErrorCode createCertRequests(const char* pin, const char* description, char* out, int* length) {
    if (description == nullptr || *description == '\0' || length == nullptr) {
        return kInvalidParameter;
    }
    const Result<std::vector<CertRequestItem>> items = parseRequestDescription(description);
    if (!items) {
        return items.code();
    }
    if (out == nullptr) {
        *length = sizeQueryLength(*items);
        return kSuccess;
    }

    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    // The first item's PIN is verified afresh; the second's may stand on it.
    std::string requests;
    for (std::size_t i = 0; i < items->size(); ++i) {
        const std::uint32_t pinFlag = i == 0 ? 0 : kKeepPinFlag;
        const Result<Bytes> der = makeRequest(session, pin, (*items)[i], pinFlag);
        if (!der) {
            return der.code();
        }
        if (!requests.empty()) {
            requests += kRequestSeparator;
        }
        requests += base64Encode(*der);
    }
    return sizedOutput(requests, out, length);
}

}  // namespace orva::api
