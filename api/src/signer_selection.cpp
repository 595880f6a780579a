#include "signer_selection.h"

#include <array>
#include <cstring>
#include <optional>

#include "bound_function_table.h"
#include "certificate_subject.h"
#include "container_walk.h"
#include "distinguished_name.h"
#include "hash_ids.h"

namespace orva::api {

namespace {

constexpr std::uint32_t kTypeTextForm = 2;
constexpr std::uint32_t kTypeBinaryForm = 3;

bool keySuitsHash(std::int32_t keyBits, int hashId) noexcept {
    if (hashId == kHashIdNone) {
        return true;
    }
    return hashId == kHashIdSm3 ? keyBits == kSm2KeyBits : keyBits != kSm2KeyBits;
}

SignerChoice choiceOf(const DRV_CONTAINER_INFO& info, Bytes certificate, std::string commonName) {
    SignerChoice choice;
    choice.algorithmId = info.signAlgId;
    choice.containerWord = info.signKeyWord;
    choice.packetForm = info.type - 1;
    choice.keyBits = boundFunctions().qzAlgLib.QZA_GetAsymKeyBits(info.signAlgId);
    choice.certificate = std::move(certificate);
    choice.commonName = std::move(commonName);
    return choice;
}

}  // namespace

ApiErrorCode selectSigner(void* device, std::string_view signerDn, int hashId,
                          SignerSelector selector, SignerChoice& choice) {
    const bool single = selector == SignerSelector::singleBinaryForm;
    std::optional<SignerChoice> recorded;
    bool found = false;
    std::size_t binaryFormCount = 0;

    // 1. Every container that holds a signature key and its certificate.
    ContainerWalk walk(device);
    const std::uint32_t first = walk.next();
    if (first != DRV_OK) {
        return kNoMatchCertificate;
    }
    for (std::uint32_t step = first; step == DRV_OK; step = walk.next()) {
        DRV_CONTAINER_INFO info{};
        readContainerInfo(device, walk.index(), info);
        if (info.signKeyPresent == 0 || info.signCertPresent == 0) {
            continue;
        }
        Bytes certificate;
        if (readContainerCertificate(device, walk.index(), DRV_FILE_SIGN_CERT, certificate) !=
            DRV_OK) {
            continue;
        }
        // 2. A signature to a file: count the type-3 containers; without a
        // signer's name the first that has a common name is taken.
        if (single && info.type == kTypeBinaryForm) {
            ++binaryFormCount;
            if (signerDn.empty() && !found) {
                const std::string subject = certificateSubject(certificate);
                if (subject.find("CN=") != std::string::npos) {
                    recorded = choiceOf(info, std::move(certificate),
                                        std::string(commonNameValue(subject)));
                    found = true;
                }
                continue;
            }
        }
        if (signerDn.empty()) {
            continue;
        }
        // 3. The signer's name must match; the first match wins.
        std::string commonName;
        if (matchDistinguishedName(signerDn, certificateSubject(certificate), commonName) !=
            kSuccess) {
            continue;
        }
        if (found) {
            continue;
        }
        const std::uint32_t type = info.type;
        SignerChoice candidate = choiceOf(info, std::move(certificate), std::move(commonName));
        if (single) {
            // Another type keeps the walk going; a later match replaces it.
            found = type == kTypeBinaryForm;
            recorded = std::move(candidate);
            continue;
        }
        const bool suits = (type == kTypeTextForm || type == kTypeBinaryForm) &&
                           keySuitsHash(candidate.keyBits, hashId);
        if (suits) {
            recorded = std::move(candidate);
            found = true;
            break;
        }
    }
    // 4.
    if (!found || !recorded) {
        return kNoMatchCertificate;
    }
    if (single && binaryFormCount != 1) {
        return kTooManyCertificates;
    }
    choice = std::move(*recorded);
    return kSuccess;
}

}  // namespace orva::api
