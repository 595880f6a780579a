// Exports that read the key's certificates: their subjects, the certificates
// themselves, and the algorithm family of the key's certificates.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bound_function_table.h"
#include "byte_buffer.h"
#include "certificate_subject.h"
#include "container_walk.h"
#include "device_session.h"
#include "export_guard.h"
#include "maker_base64.h"
#include "orva_api.h"
#include "sized_output.h"

namespace orva::api {

namespace {

constexpr std::string_view kSeparator = "||";
// GetCertType: the first container bound with a signature key and of type 4.
constexpr std::uint32_t kSignatureUsage = 2;
constexpr std::uint32_t kCertTypeContainer = 4;
constexpr int kCertTypeRsa = 1;
constexpr int kCertTypeSm2 = 2;

// ListCertificateDns: the subjects of every container's signature then
// exchange certificate, without looking at what the container says it holds;
// nothing when a walk step fails before any was found.
[[nodiscard]] std::optional<std::string> listCertificateDns(const DeviceSession& session) {
    std::string text;
    ContainerWalk walk(session);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        for (const std::uint32_t file : {DRV_FILE_SIGN_CERT, DRV_FILE_EXCH_CERT}) {
            const std::optional<Bytes> certificate =
                readContainerCertificate(session, walk.index(), file);
            if (!certificate) {
                continue;
            }
            // A certificate that does not decode would leave an empty item.
            const std::string subject = certificateSubject(*certificate);
            if (subject.empty()) {
                continue;
            }
            text += subject;
            text += kSeparator;
        }
    }
    // A failed step keeps what was collected before it.
    if (!step.is(DRV_END_OF_CONTAINERS) && text.empty()) {
        return std::nullopt;
    }
    if (text.ends_with(kSeparator)) {
        text.resize(text.size() - kSeparator.size());
    }
    return text;
}

ApiErrorCode gmGetCertDN(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = session.open(); code != kSuccess) {
            return code;
        }
        std::optional<std::string> dns = listCertificateDns(session);
        if (!dns) {
            return kNoCertificate;
        }
        text = std::move(*dns);
        return kSuccess;
    });
}

// ReadContainerCertificate: the certificates each container says it holds,
// signature before exchange, in walk order; nothing when a walk step fails.
[[nodiscard]] std::optional<std::vector<Bytes>> readContainerCertificates(
    const DeviceSession& session) {
    std::vector<Bytes> certificates;
    ContainerWalk walk(session);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info) {
            continue;
        }
        for (const auto& [present, file] : {std::pair{info->signCertPresent, DRV_FILE_SIGN_CERT},
                                            std::pair{info->exchCertPresent, DRV_FILE_EXCH_CERT}}) {
            if (present == 0) {
                continue;
            }
            if (std::optional<Bytes> certificate =
                    readContainerCertificate(session, walk.index(), file)) {
                certificates.push_back(std::move(*certificate));
            }
        }
    }
    if (!step.is(DRV_END_OF_CONTAINERS)) {
        return std::nullopt;
    }
    return certificates;
}

ApiErrorCode gmGetPKCS7(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = session.open(); code != kSuccess) {
            return code;
        }
        const std::optional<std::vector<Bytes>> certificates = readContainerCertificates(session);
        if (!certificates) {
            return kNoMatchCertificate;
        }
        for (const Bytes& certificate : *certificates) {
            const std::optional<std::string> encoded = makerBase64(certificate);
            if (!encoded) {
                return kBase64EncodeError;
            }
            if (!text.empty()) {
                text += kSeparator;
            }
            text += *encoded;
        }
        return kSuccess;
    });
}

int getCertType() {
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code.number();
    }
    ContainerWalk walk(session);
    for (MakerStatus step = walk.next(); step.ok(); step = walk.next()) {
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info || info->usage != kSignatureUsage || info->type != kCertTypeContainer) {
            continue;
        }
        switch (info->signAlgId) {
            case QZA_ALG_RSA:
            case QZA_ALG_RSA1024:
            case QZA_ALG_RSA2048:
                return kCertTypeRsa;
            case QZA_ALG_SM2:
                return kCertTypeSm2;
            default:
                return kNoMatchCertificate.number();
        }
    }
    return kNoMatchCertificate.number();
}

}  // namespace

}  // namespace orva::api

using orva::api::guardedExport;

extern "C" int QZAPI_GMGetCertDN(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::gmGetCertDN(buffer, length); });
}

extern "C" int QZAPI_GMGetPKCS7(char* buffer, int* length) {
    return guardedExport([&] { return orva::api::gmGetPKCS7(buffer, length); });
}

extern "C" int QZAPI_GetCertType(void) {
    return guardedExport([] { return orva::api::getCertType(); });
}
