// Exports that delete containers by their signature certificate's validity:
// all but the latest of certificates that share a subject, and the expired
// ones. Each deletion asks for the PIN and sets the status-change event;
// what was deleted before a failure stays deleted.

#include <openssl/x509.h>

#include <compare>
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
#include "result.h"
#include "status_event.h"
#include "token_status.h"

namespace orva::api {

namespace {

// JudgeAndDelOlderDN's results besides the codes.
constexpr int kSomethingDeleted = 0;
constexpr int kNothingDeleted = 1;

// Whether the search of duplicates deleted a container.
enum class DuplicatesDeleted { none, some };

X509Ptr decodeCertificate(const Bytes& der) {
    const unsigned char* cursor = der.data();
    return X509Ptr(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
}

// How time a orders against time b; nothing when the two cannot be compared.
[[nodiscard]] std::optional<std::strong_ordering> compareCertTimes(const ASN1_TIME* a,
                                                                   const ASN1_TIME* b) {
    int days = 0;
    int seconds = 0;
    if (ASN1_TIME_diff(&days, &seconds, b, a) == 0) {
        return std::nullopt;
    }
    if (days > 0 || seconds > 0) {
        return std::strong_ordering::greater;
    }
    return days < 0 || seconds < 0 ? std::strong_ordering::less : std::strong_ordering::equal;
}

// A certificate whose notAfter is not later than now; one that does not
// decode, or whose time cannot be compared, is not.
[[nodiscard]] bool isCertificateExpired(const Bytes& der) {
    if (der.empty()) {
        return false;
    }
    const X509Ptr certificate = decodeCertificate(der);
    if (!certificate) {
        return false;
    }
    return X509_cmp_current_time(X509_get0_notAfter(certificate.get())) < 0;
}

ApiErrorCode deleteContainerAndNotify(const DeviceSession& session, std::uint32_t index) {
    if (const ApiErrorCode code = verifyPinOnKey(session, kVerifyPinError); code != kSuccess) {
        return code;
    }
    if (const ApiErrorCode code =
            session.call(&DravikApi::QZDelContainer, index).mapped(kDeletePublicKeyError);
        code != kSuccess) {
        return code;
    }
    signalStatusChangeEvent();
    return kSuccess;
}

// The signature certificate of a container that holds a whole signature pair.
[[nodiscard]] std::optional<Bytes> signatureCertificate(const DeviceSession& session,
                                                        std::uint32_t index) {
    const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, index);
    if (!info || info->signKeyPresent == 0 || info->signCertPresent == 0) {
        return std::nullopt;
    }
    return readContainerCertificate(session, index, DRV_FILE_SIGN_CERT);
}

struct KeptCertificate {
    X509Ptr certificate;
    std::uint32_t index = 0;
};

Result<DuplicatesDeleted> deleteOlderDuplicateCertificates(const DeviceSession& session) {
    DuplicatesDeleted deleted = DuplicatesDeleted::none;
    // Keyed by the subject's items, unescaped: one subject however it is written.
    std::map<std::vector<DnItem>, KeptCertificate> kept;
    ContainerWalk walk(session);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        const std::optional<Bytes> der = signatureCertificate(session, walk.index());
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
        const std::optional<std::strong_ordering> order = compareCertTimes(
            X509_get0_notAfter(recorded.certificate.get()), X509_get0_notAfter(current.get()));
        if (!order) {
            // Without evidence that one is older, both stay.
            continue;
        }
        // The recorded one stays unless it ends earlier.
        std::uint32_t doomed = walk.index();
        if (*order < 0) {
            doomed = recorded.index;
            recorded = KeptCertificate{std::move(current), walk.index()};
        }
        deleted = DuplicatesDeleted::some;
        if (const ApiErrorCode code = deleteContainerAndNotify(session, doomed); code != kSuccess) {
            return code;
        }
    }
    if (!step.is(DRV_END_OF_CONTAINERS)) {
        return kNoMatchCertificate;
    }
    return deleted;
}

int gmJudgeAndDelOlderDN(const int* unused) {
    if (!unused) {
        return kInvalidParameter.number();
    }
    DeviceSession session;
    if (const ApiErrorCode code = session.open(); code != kSuccess) {
        return code.number();
    }
    const Result<DuplicatesDeleted> deleted = deleteOlderDuplicateCertificates(session);
    if (!deleted) {
        return deleted.code().number();
    }
    return *deleted == DuplicatesDeleted::some ? kSomethingDeleted : kNothingDeleted;
}

ApiErrorCode deleteExpiredCertificates(const DeviceSession& session) {
    ContainerWalk walk(session);
    MakerStatus step = walk.next();
    for (; step.ok(); step = walk.next()) {
        const std::optional<Bytes> der = signatureCertificate(session, walk.index());
        if (!der || !isCertificateExpired(*der)) {
            continue;
        }
        if (const ApiErrorCode code = deleteContainerAndNotify(session, walk.index());
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
    return deleteExpiredCertificates(session);
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
