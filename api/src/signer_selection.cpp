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

// Calls visit(info, certificate) for every container that holds a signature
// key and its certificate, until visit answers false. False when the walk's
// first step fails.
template <class Visit>
[[nodiscard]] bool visitSigningContainers(const DeviceSession& session, Visit visit) {
    ContainerWalk walk(session);
    const MakerStatus first = walk.next();
    if (!first.ok()) {
        return false;
    }
    for (MakerStatus step = first; step.ok(); step = walk.next()) {
        // A container whose information does not read holds nothing to sign with.
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info || info->signKeyPresent == 0 || info->signCertPresent == 0) {
            continue;
        }
        std::optional<Bytes> certificate =
            readContainerCertificate(session, walk.index(), DRV_FILE_SIGN_CERT);
        if (!certificate) {
            continue;
        }
        if (!visit(*info, std::move(*certificate))) {
            break;
        }
    }
    return true;
}

// The first container of type 2 or 3 whose subject matches the signer's name
// and whose key suits the hash.
Result<SignerChoice> selectMatchingKey(const DeviceSession& session, std::string_view signerDn,
                                       int hashId) {
    std::optional<SignerChoice> recorded;
    const bool walked =
        visitSigningContainers(session, [&](const DRV_CONTAINER_INFO& info, Bytes certificate) {
            if (signerDn.empty()) {
                return true;
            }
            Result<std::string> commonName =
                matchDistinguishedName(signerDn, certificateSubject(certificate));
            if (!commonName) {
                return true;
            }
            SignerChoice candidate = choiceOf(info, std::move(certificate), std::move(*commonName));
            if ((info.type == kTypeTextForm || info.type == kTypeBinaryForm) &&
                keySuitsHash(candidate.keyBits, hashId)) {
                recorded = std::move(candidate);
                return false;
            }
            return true;
        });
    if (!walked || !recorded) {
        return kNoMatchCertificate;
    }
    return std::move(*recorded);
}

// Exactly one container of type 3 may exist, so every container is walked.
Result<SignerChoice> selectSingleBinaryForm(const DeviceSession& session,
                                            std::string_view signerDn) {
    std::optional<SignerChoice> recorded;
    bool found = false;
    std::size_t binaryFormCount = 0;
    const bool walked =
        visitSigningContainers(session, [&](const DRV_CONTAINER_INFO& info, Bytes certificate) {
            const bool binaryForm = info.type == kTypeBinaryForm;
            if (binaryForm) {
                ++binaryFormCount;
            }
            if (signerDn.empty()) {
                // Without a signer's name the first type-3 container that has
                // a common name is taken.
                if (binaryForm && !found) {
                    const std::string subject = certificateSubject(certificate);
                    if (hasCommonName(subject)) {
                        recorded = choiceOf(info, std::move(certificate),
                                            std::string(commonNameValue(subject)));
                        found = true;
                    }
                }
                return true;
            }
            Result<std::string> commonName =
                matchDistinguishedName(signerDn, certificateSubject(certificate));
            if (!commonName || found) {
                return true;
            }
            // Another type keeps the walk going; a later match replaces it.
            recorded = choiceOf(info, std::move(certificate), std::move(*commonName));
            found = binaryForm;
            return true;
        });
    if (!walked || !found || !recorded) {
        return kNoMatchCertificate;
    }
    if (binaryFormCount != 1) {
        return kTooManyCertificates;
    }
    return std::move(*recorded);
}

}  // namespace

Result<SignerChoice> selectSigner(const DeviceSession& session, std::string_view signerDn,
                                  int hashId, SignerSelector selector) {
    return selector == SignerSelector::singleBinaryForm
               ? selectSingleBinaryForm(session, signerDn)
               : selectMatchingKey(session, signerDn, hashId);
}

}  // namespace orva::api
