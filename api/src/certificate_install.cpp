// QZAPI_GMWritePKCS7_Enc: the certificates a bank issued for the key pairs of a
// certificate request go into the containers holding those key pairs, and an
// encryption key pair the bank sealed in an envelope goes, with its
// certificate, into the container of the last one.

#include <array>
#include <optional>
#include <vector>

#include "bound_function_table.h"
#include "certificate_list.h"
#include "device_session.h"
#include "export_guard.h"
#include "install_targets.h"
#include "key_envelope.h"
#include "orva/registration.h"
#include "orva_api.h"
#include "server_random.h"
#include "status_event.h"
#include "token_status.h"

namespace orva::api {

namespace {

constexpr std::size_t kMaxCertificates = 2;
constexpr std::uint16_t kTypeUnregistered = 3;
// The envelope's key pair is bound as the container's exchange key, an SM2 key.
constexpr std::uint32_t kExchangeUsage = 1;
constexpr std::uint32_t kSm2AlgorithmId = 10;
constexpr std::uint32_t kPinAlreadyVerified = 1;
constexpr std::size_t kRegistrationRoom = 260;

// The envelope's key pair, and the server random that goes with it.
struct KeyPairToInstall {
    KeyEnvelope envelope;
    ServerRandom random{};
    int randomLength = 0;
};

std::uint32_t size32(const Bytes& bytes) noexcept {
    return static_cast<std::uint32_t>(bytes.size());
}

ApiErrorCode importKeyPair(void* device, const KeyContainerEntry& target,
                           const KeyPairToInstall& keyPair) {
    const DravikApi& dravik = boundFunctions().dravik;
    std::uint32_t fid = 0;
    if (dravik.QZGetFreePriKeyFID(device, &fid) != DRV_OK) {
        return kGetAsymKeyError;
    }
    const std::uint32_t pinStatus =
        dravik.QZVerifyPIN(device, DRV_PIN_USER, nullptr, 0, nullptr, kPinAlreadyVerified);
    if (const ApiErrorCode code = mapTokenStatus(pinStatus, kDeletePublicKeyError);
        code != kSuccess) {
        return code;
    }
    // The envelope is opened with the container's signature private key, the
    // file just before its public-key file.
    const KeyEnvelope& e = keyPair.envelope;
    const std::uint32_t unwrapFid = static_cast<std::uint32_t>(target.signPublicKeyFid) - 1u;
    if (dravik.QZAsymImportKey_ORVA(device, fid, unwrapFid, e.algorithmWord, e.partA.data(),
                                    size32(e.partA), e.partB.data(), size32(e.partB),
                                    e.partC.data(), size32(e.partC), keyPair.random.data(),
                                    static_cast<std::uint32_t>(keyPair.randomLength)) != DRV_OK) {
        return kWriteCertError;
    }
    if (dravik.QZWriteFileToContainer(device, target.containerId, DRV_FILE_EXCH_CERT,
                                      e.certificate.data(), size32(e.certificate)) != DRV_OK) {
        return kWriteCertError;
    }
    if (dravik.QZBindPriKeyToContainer(device, target.containerId, fid, kExchangeUsage,
                                       kSm2AlgorithmId) != DRV_OK) {
        return kAddAsymKeyToContainerError;
    }
    return kSuccess;
}

// Writes every certificate (and the key pair with the last); wrote tells
// whether anything reached the key, also when a later step failed.
ApiErrorCode installMatched(void* device, const std::vector<Bytes>& certificates,
                            const std::vector<const KeyContainerEntry*>& targets,
                            const std::optional<KeyPairToInstall>& keyPair, bool& wrote) {
    std::array<std::uint8_t, kRegistrationRoom> registrationRoom{};
    for (std::size_t i = 0; i < certificates.size(); ++i) {
        const Bytes& certificate = certificates[i];
        const KeyContainerEntry& target = *targets[i];
        if (boundFunctions().dravik.QZWriteFileToContainer(device, target.containerId,
                                                           DRV_FILE_SIGN_CERT, certificate.data(),
                                                           size32(certificate)) != DRV_OK) {
            return kWriteCertError;
        }
        wrote = true;
        if (keyPair && i + 1 == certificates.size()) {
            if (const ApiErrorCode code = importKeyPair(device, target, *keyPair);
                code != kSuccess) {
                return code;
            }
        }
        // The system learns the certificate; whether it took it changes nothing.
        if (target.type != kTypeUnregistered) {
            boundFunctions().pelnor.AuxRegUserCert(certificate.data(), size32(certificate),
                                                   kProviderName, target.name.c_str(),
                                                   target.keySpec, registrationRoom.data());
        }
    }
    return kSuccess;
}

ApiErrorCode writePkcs7Enc(const char* signCertP7, const char* encData, const char* svrRand) {
    if (signCertP7 == nullptr) {
        return kInvalidParameter;
    }
    // A key pair is installed only when an envelope comes.
    std::optional<KeyPairToInstall> keyPair;
    if (encData != nullptr && *encData != '\0') {
        keyPair.emplace();
        if (svrRand != nullptr && *svrRand != '\0') {
            if (const ApiErrorCode code =
                    decodeServerRandom(svrRand, keyPair->random, &keyPair->randomLength);
                code != kSuccess) {
                return code;
            }
        }
        std::optional<KeyEnvelope> envelope = parseKeyEnvelope(encData);
        if (!envelope) {
            return kInvalidParameter;
        }
        keyPair->envelope = std::move(*envelope);
    }

    const std::optional<std::vector<Bytes>> certificates = parseCertificateList(signCertP7);
    if (!certificates || certificates->empty()) {
        return kAnalyzeCertError;
    }
    if (certificates->size() > kMaxCertificates) {
        return kTooManyCertificates;
    }

    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    std::vector<KeyContainerEntry> targets;
    if (const ApiErrorCode code = listKeyContainersWithoutCert(session.device(), targets);
        code != kSuccess) {
        return code;
    }

    // Every certificate finds a container of its own before the first write,
    // so that a certificate that fails leaves the key as it was, and two
    // certificates of one key never share a container.
    std::vector<const KeyContainerEntry*> matched;
    std::vector<bool> taken(targets.size(), false);
    for (const Bytes& certificate : *certificates) {
        const std::optional<Bytes> key = extractCertPublicKey(certificate);
        if (!key) {
            return kAnalyzeCertError;
        }
        std::size_t t = 0;
        while (t < targets.size() && (taken[t] || targets[t].publicKey != *key)) {
            ++t;
        }
        if (t == targets.size()) {
            return kNoMatchPublicKey;
        }
        taken[t] = true;
        matched.push_back(&targets[t]);
    }

    bool wrote = false;
    const ApiErrorCode code =
        installMatched(session.device(), *certificates, matched, keyPair, wrote);
    // The key-management tool hears of every change, also of one a later
    // failure left half done.
    if (code == kSuccess || wrote) {
        signalStatusChangeEvent();
    }
    return code;
}

}  // namespace

}  // namespace orva::api

extern "C" int QZAPI_GMWritePKCS7_Enc(const char* signCertP7, const char* encData,
                                      const char* svrRand) {
    return orva::api::guardedExport(
        [&] { return orva::api::writePkcs7Enc(signCertP7, encData, svrRand); });
}
