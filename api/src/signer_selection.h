#pragma once

// The choice of the container whose key signs a transaction, among those that
// hold a signature key and its certificate.

#include <cstdint>
#include <string>
#include <string_view>

#include "byte_buffer.h"
#include "orva_result_codes.h"
#include "result.h"

namespace orva::api {

class DeviceSession;

enum class SignerSelector {
    // The signature comes back in the caller's buffer: the first container of
    // type 2 or 3 whose subject matches the signer's name and whose key suits
    // the hash.
    matchingKey = 0,
    // The signature goes to a file: exactly one container of type 3 may exist;
    // with no signer's name given it is taken by its common name.
    singleBinaryForm = 1,
};

// What the signature needs of the chosen container.
struct SignerChoice {
    std::uint32_t algorithmId = 0;    // signature key algorithm (word 3)
    std::uint32_t containerWord = 0;  // handed to the key as its key word (word 11)
    std::uint32_t packetForm = 0;     // container type - 1: 1 text form, 2 binary form
    std::int32_t keyBits = 0;         // 256 is SM2
    Bytes certificate;                // the signature certificate's DER
    std::string commonName;           // its subject's CN value
};

inline constexpr std::int32_t kSm2KeyBits = 256;

// Walks the containers and chooses. kNoMatchCertificate when the first step of the walk fails
// or nothing is chosen; kTooManyCertificates for singleBinaryForm unless exactly one type-3
// container holds a key and a certificate.
Result<SignerChoice> selectSigner(const DeviceSession& session, std::string_view signerDn,
                                  int hashId, SignerSelector selector);

}  // namespace orva::api
