#pragma once

// CreateCertRequests: new key containers on the key, a key pair generated in
// each, and the PKCS#10 requests for them signed by the key, base64 and joined
// by "||". Behind QZAPI_GMCreatePKCS10 and QZAPI_GMCreatePKCS10Ex.

#include <cstdint>
#include <optional>
#include <string>

#include "byte_buffer.h"
#include "device_session.h"
#include "request_description.h"
#include "result.h"

namespace orva::api {

// A container made for one request, with its new key pair.
struct KeyContainer {
    std::uint32_t index = 0;
    std::uint32_t privateKeyFid = 0;
    std::string name;
    Bytes publicKey;  // SM2 X || Y, RSA the key's public-key block
};

// The text of a new UUID, 36 characters; none when no UUID can be had.
[[nodiscard]] std::optional<std::string> makeUuidContainerName();

// A new container holding a new key pair of the item's kind. pin may be null
// (the key asks its user); pinFlag 1 lets a PIN verified earlier in the
// session stand. kNewContainerError, kGetAsymKeyError, the mapped PIN status (default
// kVerifyPinError), kGenerateAsymKeyError, kAddAsymKeyToContainerError. What was made stays on the
// key when a later step fails.
Result<KeyContainer> createKeyContainer(const DeviceSession& session, const char* pin,
                                        const CertRequestItem& item, std::uint32_t pinFlag);

// The whole call: a null or empty description or a null length is kInvalidParameter; a
// null out is a size query that touches no key; otherwise the requests go out
// by the text convention (kBufferTooSmall with the size needed, the keys made all the
// same). A null or empty pin counts as none.
ApiErrorCode createCertRequests(const char* pin, const char* description, char* out, int* length);

}  // namespace orva::api
