// Exports that make the key's RSA certificates known to the system's
// certificate store through Pelnor, or withdraw them. SM2 certificates and
// containers of type 3 are never handed over.

#include <optional>

#include "bound_function_table.h"
#include "byte_buffer.h"
#include "container_walk.h"
#include "device_session.h"
#include "export_guard.h"
#include "orva/registration.h"
#include "orva_api.h"

namespace orva::api {

namespace {

enum class Registration { add, withdraw };

constexpr std::uint32_t kKeySpec = 2;
constexpr std::uint32_t kUnregisteredType = 3;

// Pelnor's answers change nothing: the store is the system's business.
void handOver(const DeviceSession& session, std::uint32_t index, std::uint32_t file,
              const char* containerName, Registration what) {
    const std::optional<Bytes> certificate = readContainerCertificate(session, index, file);
    if (!certificate) {
        return;
    }
    const auto& pelnor = boundFunctions().pelnor;
    const auto length = static_cast<std::uint32_t>(certificate->size());
    if (what == Registration::add) {
        pelnor.AuxRegUserCert(certificate->data(), length, kProviderName, containerName, kKeySpec,
                              nullptr);
    } else {
        pelnor.AuxUnRegUserCert(certificate->data(), length);
    }
}

ApiErrorCode registerKeyCertificates(const DeviceSession& session, Registration what) {
    ContainerWalk walk(session);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, walk.index());
        if (!info || info->type == kUnregisteredType) {
            continue;
        }
        // The walk's name buffer holds a terminated text.
        const char* name = walk.name().data();
        if (info->signCertPresent != 0 && info->signAlgId != QZA_ALG_SM2) {
            handOver(session, walk.index(), DRV_FILE_SIGN_CERT, name, what);
        }
        if (info->exchCertPresent != 0 && info->exchAlgId != QZA_ALG_SM2) {
            handOver(session, walk.index(), DRV_FILE_EXCH_CERT, name, what);
        }
    }
    return step.is(DRV_END_OF_CONTAINERS) ? kSuccess : kOperationFailed;
}

ApiErrorCode registerCert(Registration what) {
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    return registerKeyCertificates(session, what);
}

}  // namespace

}  // namespace orva::api

using orva::api::guardedExport;
using orva::api::Registration;

extern "C" int QZAPI_RegisterCert(void) {
    return guardedExport([] { return orva::api::registerCert(Registration::add); });
}

extern "C" int QZAPI_UnRegisterCert(void) {
    return guardedExport([] { return orva::api::registerCert(Registration::withdraw); });
}
