// Exports that read the key's certificates: their subjects, the certificates
// themselves, and the algorithm family of the key's certificates.

#include <optional>
#include <string>
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

// ListCertificateDns: every container's signature then exchange certificate,
// without looking at what the container says it holds.
ApiErrorCode listCertificateDns(void* device, std::string& text) {
    ContainerWalk walk(device);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        for (const std::uint32_t file : {DRV_FILE_SIGN_CERT, DRV_FILE_EXCH_CERT}) {
            Bytes certificate;
            if (readContainerCertificate(device, walk.index(), file, certificate) != DRV_OK) {
                continue;
            }
            // A certificate that does not decode would leave an empty item.
            const std::string subject = certificateSubject(certificate);
            if (subject.empty()) {
                continue;
            }
            text += subject;
            text += kSeparator;
        }
    }
    // A failed step keeps what was collected before it.
    if (!step.is(DRV_END_OF_CONTAINERS) && text.empty()) {
        return kNoCertificate;
    }
    if (text.ends_with(kSeparator)) {
        text.resize(text.size() - kSeparator.size());
    }
    return kSuccess;
}

ApiErrorCode gmGetCertDN(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = session.open(); code != kSuccess) {
            return code;
        }
        return listCertificateDns(session.device(), text);
    });
}

// ReadContainerCertificate: the certificates each container says it holds,
// signature before exchange, in walk order.
ApiErrorCode readContainerCertificates(void* device, std::vector<Bytes>& certificates) {
    ContainerWalk walk(device);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        DRV_CONTAINER_INFO info{};
        if (readContainerInfo(device, walk.index(), info) != DRV_OK) {
            continue;
        }
        for (const auto& [present, file] : {std::pair{info.signCertPresent, DRV_FILE_SIGN_CERT},
                                            std::pair{info.exchCertPresent, DRV_FILE_EXCH_CERT}}) {
            Bytes certificate;
            if (present != 0 &&
                readContainerCertificate(device, walk.index(), file, certificate) == DRV_OK) {
                certificates.push_back(std::move(certificate));
            }
        }
    }
    return step.is(DRV_END_OF_CONTAINERS) ? kSuccess : kNoMatchCertificate;
}

ApiErrorCode gmGetPKCS7(char* buffer, int* length) {
    return withSizedOutput(buffer, length, [](std::string& text) {
        DeviceSession session;
        if (const ApiErrorCode code = session.open(); code != kSuccess) {
            return code;
        }
        std::vector<Bytes> certificates;
        if (const ApiErrorCode code = readContainerCertificates(session.device(), certificates);
            code != kSuccess) {
            return code;
        }
        for (const Bytes& certificate : certificates) {
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
    ContainerWalk walk(session.device());
    for (MakerStatus step = walk.next(); step.ok(); step = walk.next()) {
        DRV_CONTAINER_INFO info{};
        if (readContainerInfo(session.device(), walk.index(), info) != DRV_OK ||
            info.usage != kSignatureUsage || info.type != kCertTypeContainer) {
            continue;
        }
        switch (info.signAlgId) {
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
