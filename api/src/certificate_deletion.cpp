// Exports that delete containers by their signature certificate's validity:
// all but the latest of certificates that share a subject, and the expired
// ones. Each deletion asks for the PIN and sets the status-change event;
// what was deleted before a failure stays deleted.

#include <openssl/x509.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bound_function_table.h"
#include "byte_buffer.h"
#include "certificate_subject.h"
#include "container_walk.h"
#include "device_session.h"
#include "distinguished_name.h"
#include "export_guard.h"
#include "orva/openssl_ptr.h"
#include "orva_api.h"
#include "status_event.h"
#include "token_status.h"

namespace orva::api {

namespace {

// JudgeAndDelOlderDN's results besides the codes.
constexpr int kSomethingDeleted = 0;
constexpr int kNothingDeleted = 1;

// CompareCertTimes' answers.
constexpr int kLater = 1;
constexpr int kSameTime = 0;
constexpr int kEarlier = -1;
constexpr int kIncomparable = -2;

X509Ptr decodeCertificate(const Bytes& der) {
    const unsigned char* cursor = der.data();
    return X509Ptr(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
}

// 1 when a is later than b, -1 when earlier, 0 when equal, -2 when the two
// cannot be compared.
int compareCertTimes(const ASN1_TIME* a, const ASN1_TIME* b) {
    int days = 0;
    int seconds = 0;
    if (ASN1_TIME_diff(&days, &seconds, b, a) == 0) {
        return kIncomparable;
    }
    if (days > 0 || seconds > 0) {
        return kLater;
    }
    return days < 0 || seconds < 0 ? kEarlier : kSameTime;
}

// A certificate whose notAfter is not later than now; one that does not
// decode, or whose time cannot be compared, is not.
bool isCertificateExpired(const Bytes& der) {
    if (der.empty()) {
        return false;
    }
    const X509Ptr certificate = decodeCertificate(der);
    if (!certificate) {
        return false;
    }
    return X509_cmp_current_time(X509_get0_notAfter(certificate.get())) < 0;
}

ApiErrorCode deleteContainerAndNotify(void* device, std::uint32_t index) {
    const auto& dravik = boundFunctions().dravik;
    if (const ApiErrorCode code = verifyPinOnKey(device, kVerifyPinError); code != kSuccess) {
        return code;
    }
    if (const ApiErrorCode code =
            mapTokenStatus(dravik.QZDelContainer(device, index), kDeletePublicKeyError);
        code != kSuccess) {
        return code;
    }
    signalStatusChangeEvent();
    return kSuccess;
}

// The signature certificate of a container that holds a whole signature pair.
std::optional<Bytes> signatureCertificate(void* device, std::uint32_t index) {
    DRV_CONTAINER_INFO info{};
    readContainerInfo(device, index, info);
    Bytes certificate;
    if (info.signKeyPresent == 0 || info.signCertPresent == 0 ||
        readContainerCertificate(device, index, DRV_FILE_SIGN_CERT, certificate) != DRV_OK) {
        return std::nullopt;
    }
    return certificate;
}

struct KeptCertificate {
    X509Ptr certificate;
    std::uint32_t index = 0;
};

ApiErrorCode deleteOlderDuplicateCertificates(void* device, int& flag) {
    flag = kNothingDeleted;
    // Keyed by the subject's items, unescaped: one subject however it is written.
    std::map<std::vector<DnItem>, KeptCertificate> kept;
    ContainerWalk walk(device);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        const std::optional<Bytes> der = signatureCertificate(device, walk.index());
        if (!der) {
            continue;
        }
        const std::string subject = certificateSubject(*der);
        if (subject.empty()) {
            continue;
        }
        X509Ptr current = decodeCertificate(*der);
        if (!current) {
            continue;
        }
        std::vector<DnItem> items = distinguishedNameItems(subject);
        const auto entry = kept.find(items);
        if (entry == kept.end()) {
            kept.emplace(std::move(items), KeptCertificate{std::move(current), walk.index()});
            continue;
        }
        KeptCertificate& recorded = entry->second;
        std::uint32_t doomed = 0;
        switch (compareCertTimes(X509_get0_notAfter(recorded.certificate.get()),
                                 X509_get0_notAfter(current.get()))) {
            case kLater:
            case kSameTime:
                doomed = walk.index();
                break;
            case kEarlier:
                doomed = recorded.index;
                recorded = KeptCertificate{std::move(current), walk.index()};
                break;
            default:
                // Without evidence that one is older, both stay.
                continue;
        }
        flag = kSomethingDeleted;
        if (const ApiErrorCode code = deleteContainerAndNotify(device, doomed); code != kSuccess) {
            return code;
        }
    }
    return step.is(DRV_END_OF_CONTAINERS) ? kSuccess : kNoMatchCertificate;
}

int gmJudgeAndDelOlderDN(const int* unused) {
    if (!unused) {
        return kInvalidParameter.number();
    }
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code.number();
    }
    int flag = kNothingDeleted;
    if (const ApiErrorCode code = deleteOlderDuplicateCertificates(session.device(), flag);
        code != kSuccess) {
        return code.number();
    }
    return flag;
}

ApiErrorCode deleteExpiredCertificates(void* device) {
    ContainerWalk walk(device);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        const std::optional<Bytes> der = signatureCertificate(device, walk.index());
        if (!der || !isCertificateExpired(*der)) {
            continue;
        }
        if (const ApiErrorCode code = deleteContainerAndNotify(device, walk.index());
            code != kSuccess) {
            return code;
        }
    }
    return step.is(DRV_END_OF_CONTAINERS) ? kSuccess : kNoMatchCertificate;
}

ApiErrorCode delExpiredCert() {
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code;
    }
    return deleteExpiredCertificates(session.device());
}

}  // namespace

}  // namespace orva::api

using orva::api::guardedExport;

extern "C" int QZAPI_GMJudgeAndDelOlderDN(int* unused) {
    return guardedExport([&] { return orva::api::gmJudgeAndDelOlderDN(unused); });
}

extern "C" int QZAPI_DelExpiredCert(void) {
    return guardedExport([] { return orva::api::delExpiredCert(); });
}
