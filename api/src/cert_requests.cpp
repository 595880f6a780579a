#include "cert_requests.h"

#include <cstring>
#include <memory>
#include <vector>

#include "base64_codec.h"
#include "bound_function_table.h"
#include "cert_request_builder.h"
#include "device_session.h"
#include "sized_output.h"
#include "token_status.h"
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

ApiErrorCode makeRequest(void* device, const char* pin, const CertRequestItem& item,
                         std::uint32_t pinFlag, std::string& requests) {
    KeyContainer container;
    if (const ApiErrorCode code = createKeyContainer(device, pin, item, pinFlag, container);
        code != kSuccess) {
        return code;
    }
    X509ReqPtr request;
    if (const ApiErrorCode code = buildCertRequest(item, container.publicKey, request);
        code != kSuccess) {
        return code;
    }
    // The PIN must still stand before the key signs; an unmapped refusal here
    // is kDeletePublicKeyError.
    const std::uint32_t status = boundFunctions().dravik.QZVerifyPIN(device, DRV_PIN_USER, nullptr,
                                                                     0, nullptr, kKeepPinFlag);
    if (const ApiErrorCode code = mapTokenStatus(status, kDeletePublicKeyError); code != kSuccess) {
        return code;
    }
    Bytes der;
    if (const ApiErrorCode code = signCertRequest(device, container.privateKeyFid, item,
                                                  container.publicKey, *request, der);
        code != kSuccess) {
        return code;
    }
    if (!requests.empty()) {
        requests += kRequestSeparator;
    }
    requests += base64Encode(der);
    return kSuccess;
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

ApiErrorCode createKeyContainer(void* device, const char* pin, const CertRequestItem& item,
                                std::uint32_t pinFlag, KeyContainer& container) {
    const DravikApi& dravik = boundFunctions().dravik;
    // A new container under a fresh name, and a free file for the key pair.
    const auto name = makeUuidContainerName();
    if (!name || dravik.QZNewContainer(device, name->c_str(), 0, &container.index) != DRV_OK) {
        return kNewContainerError;
    }
    container.name = *name;
    if (dravik.QZGetFreePriKeyFID(device, &container.privateKeyFid) != DRV_OK) {
        return kGetAsymKeyError;
    }

    const bool withPin = pin != nullptr && *pin != '\0';
    const std::uint32_t status = dravik.QZVerifyPIN(
        device, DRV_PIN_USER, withPin ? pin : nullptr,
        withPin ? static_cast<std::uint32_t>(std::strlen(pin)) : 0, nullptr, pinFlag);
    if (const ApiErrorCode code = mapTokenStatus(status, kVerifyPinError); code != kSuccess) {
        return code;
    }

    // The key pair, bound to the container as its signature key.
    const auto algId = static_cast<std::uint32_t>(item.keyAlgId);
    const auto containerType = static_cast<std::uint32_t>(item.containerType);
    std::uint32_t blockLength = item.keyAlgId == kSm2KeyAlgId
                                    ? kSm2GenerationBlock
                                    : static_cast<std::uint32_t>(item.keyBits) / 8 + kRsaBlockExtra;
    Bytes block(blockLength);
    if (dravik.QZAsymGenerateKeyPair(device, algId, containerType, container.privateKeyFid,
                                     block.data(), &blockLength, kGenerateFlag) != DRV_OK ||
        blockLength > block.size()) {
        return kGenerateAsymKeyError;
    }
    block.resize(blockLength);
    if (dravik.QZBindPriKeyToContainer(device, container.index, container.privateKeyFid,
                                       containerType, algId) != DRV_OK) {
        return kAddAsymKeyToContainerError;
    }

    // A short SM2 block gives no point, which the request's builder refuses.
    if (item.keyAlgId != kSm2KeyAlgId) {
        container.publicKey = std::move(block);
    } else if (block.size() >= kSm2PointOffset + kSm2PointSize) {
        container.publicKey.assign(block.begin() + kSm2PointOffset,
                                   block.begin() + kSm2PointOffset + kSm2PointSize);
    }
    return kSuccess;
}

ApiErrorCode createCertRequests(const char* pin, const char* description, char* out, int* length) {
    if (description == nullptr || *description == '\0' || length == nullptr) {
        return kInvalidParameter;
    }
    std::vector<CertRequestItem> items;
    if (const ApiErrorCode code = parseRequestDescription(description, items); code != kSuccess) {
        return code;
    }
    if (out == nullptr) {
        *length = sizeQueryLength(items);
        return kSuccess;
    }

    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    // The first item's PIN is verified afresh; the second's may stand on it.
    std::string requests;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::uint32_t pinFlag = i == 0 ? 0 : kKeepPinFlag;
        if (const ApiErrorCode code =
                makeRequest(session.device(), pin, items[i], pinFlag, requests);
            code != kSuccess) {
            return code;
        }
    }
    return sizedOutput(requests, out, length);
}

}  // namespace orva::api
