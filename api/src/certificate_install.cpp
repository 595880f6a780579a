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

namespace orva::api {

namespace {

constexpr std::size_t kMaxCertificates = 2;
constexpr std::uint16_t kTypeUnregistered = 3;
// The envelope's key pair is bound as the container's exchange key, an SM2 key.
constexpr std::uint32_t kExchangeUsage = 1;
constexpr std::uint32_t kSm2AlgorithmId = 10;
constexpr std::uint32_t kPinAlreadyVerified = 1;
constexpr std::size_t kRegistrationRoom = 260;

// The envelope's key pair, and the server random that goes with it (none
// passed: length 0).
struct KeyPairToInstall {
    KeyEnvelope envelope;
    ServerRandom random{};
    std::uint32_t randomLength = 0;
};

// Tells the key-management tool of the change when the install ends, once a
// write reached the key: also of one a later failure left half done.
class StatusChangeNotice {
  public:
    StatusChangeNotice() = default;
    StatusChangeNotice(const StatusChangeNotice&) = delete;
    StatusChangeNotice& operator=(const StatusChangeNotice&) = delete;
    ~StatusChangeNotice() {
        if (due_) {
            signalStatusChangeEvent();
        }
    }

    void due() noexcept { due_ = true; }

  private:
    bool due_ = false;
};

std::uint32_t size32(const Bytes& bytes) noexcept {
    return static_cast<std::uint32_t>(bytes.size());
}

ApiErrorCode importKeyPair(const DeviceSession& session, const KeyContainerEntry& target,
                           const KeyPairToInstall& keyPair) {
    std::uint32_t fid = 0;
    if (const ApiErrorCode code =
            session.call(&DravikApi::QZGetFreePriKeyFID, &fid).checked(kGetAsymKeyError);
        code != kSuccess) {
        return code;
    }
    if (const ApiErrorCode code = session
                                      .call(&DravikApi::QZVerifyPIN, DRV_PIN_USER, nullptr, 0,
                                            nullptr, kPinAlreadyVerified)
                                      .mapped(kDeletePublicKeyError);
        code != kSuccess) {
        return code;
    }
    // The envelope is opened with the container's signature private key, the
    // file just before its public-key file.
    const KeyEnvelope& e = keyPair.envelope;
    const std::uint32_t unwrapFid = static_cast<std::uint32_t>(target.signPublicKeyFid) - 1u;
    if (const ApiErrorCode code =
            session
                .call(&DravikApi::QZAsymImportKey_ORVA, fid, unwrapFid, e.algorithmWord,
                      e.partA.data(), size32(e.partA), e.partB.data(), size32(e.partB),
                      e.partC.data(), size32(e.partC), keyPair.random.data(), keyPair.randomLength)
                .checked(kWriteCertError);
        code != kSuccess) {
        return code;
    }
    if (const ApiErrorCode code =
            session
                .call(&DravikApi::QZWriteFileToContainer, target.containerId, DRV_FILE_EXCH_CERT,
                      e.certificate.data(), size32(e.certificate))
                .checked(kWriteCertError);
        code != kSuccess) {
        return code;
    }
    return session
        .call(&DravikApi::QZBindPriKeyToContainer, target.containerId, fid, kExchangeUsage,
              kSm2AlgorithmId)
        .checked(kAddAsymKeyToContainerError);
}

// Writes every certificate (and the key pair with the last).
ApiErrorCode installMatched(const DeviceSession& session, const std::vector<Bytes>& certificates,
                            const std::vector<const KeyContainerEntry*>& targets,
                            const std::optional<KeyPairToInstall>& keyPair) {
    StatusChangeNotice notice;
    std::array<std::uint8_t, kRegistrationRoom> registrationRoom{};
    for (std::size_t i = 0; i < certificates.size(); ++i) {
        const Bytes& certificate = certificates[i];
        const KeyContainerEntry& target = *targets[i];
        if (const ApiErrorCode code =
                session
                    .call(&DravikApi::QZWriteFileToContainer, target.containerId,
                          DRV_FILE_SIGN_CERT, certificate.data(), size32(certificate))
                    .checked(kWriteCertError);
            code != kSuccess) {
            return code;
        }
        notice.due();
        if (keyPair && i + 1 == certificates.size()) {
            if (const ApiErrorCode code = importKeyPair(session, target, *keyPair);
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
            const Result<ServerRandom> random = decodeServerRandom(svrRand);
            if (!random) {
                return random.code();
            }
            keyPair->random = *random;
            keyPair->randomLength = kServerRandomSize;
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
    const Result<std::vector<KeyContainerEntry>> targets = listKeyContainersWithoutCert(session);
    if (!targets) {
        return targets.code();
    }

    // Every certificate finds a container of its own before the first write,
    // so that a certificate that fails leaves the key as it was, and two
    // certificates of one key never share a container.
    std::vector<const KeyContainerEntry*> matched;
    std::vector<bool> taken(targets->size(), false);
    for (const Bytes& certificate : *certificates) {
        const std::optional<Bytes> key = extractCertPublicKey(certificate);
        if (!key) {
            return kAnalyzeCertError;
        }
        std::size_t t = 0;
        while (t < targets->size() && (taken[t] || (*targets)[t].publicKey != *key)) {
            ++t;
        }
        if (t == targets->size()) {
            return kNoMatchPublicKey;
        }
        taken[t] = true;
        matched.push_back(&(*targets)[t]);
    }
    return installMatched(session, *certificates, matched, keyPair);
}

}  // namespace

}  // namespace orva::api

extern "C" int QZAPI_GMWritePKCS7_Enc(const char* signCertP7, const char* encData,
                                      const char* svrRand) {
    return orva::api::guardedExport(
        [&] { return orva::api::writePkcs7Enc(signCertP7, encData, svrRand); });
}
