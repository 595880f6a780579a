// Pelnor's 6 entry points, in the order the token API library looks them up.
// Registration records into the store; the other four answer "not supported".

#include <cstring>

#include "faults.h"
#include "maker/export_names.h"
#include "maker/pelnor.h"
#include "registrations.h"

namespace {

using orva::softkey::Store;
using orva::softkey::StoreError;
using orva::softkey::StoreErrorKind;

constexpr std::size_t kMaxCertificateBytes = 64 * 1024;
constexpr std::size_t kMaxNameChars = 1024;

struct Status {
    std::uint32_t code;
};

void require(bool ok) {
    if (!ok) {
        throw Status{AUX_E_BAD_ARGUMENT};
    }
}

std::string text(const char* s) {
    require(s != nullptr);
    const std::size_t n = ::strnlen(s, kMaxNameChars + 1);
    require(n <= kMaxNameChars);
    return std::string(s, n);
}

// The store with the faults in force for this call.
Store storeFor(const char* function) {
    Store store = Store::fromEnvironment();
    const orva::softkey::Faults faults = orva::softkey::readFaults(store);
    store.setFailWrites(faults.failWrites);
    if (const auto status = orva::softkey::takeFailure(store, function)) {
        throw Status{*status};
    }
    return store;
}

template <typename F>
std::uint32_t guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const Status& s) {
        return s.code;
    } catch (const StoreError& e) {
        return e.kind == StoreErrorKind::writeFailed ? AUX_E_WRITE_FAILED : AUX_E_INTERNAL;
    } catch (...) {
        return AUX_E_INTERNAL;
    }
}

std::span<const std::uint8_t> certificate(const uint8_t* der, uint32_t len) {
    require(der != nullptr && len > 0 && len <= kMaxCertificateBytes);
    return {der, len};
}

}  // namespace

// The entries nothing calls, made from the list the token API library binds
// from.
#define AUX_CALLED_ENTRY(name)
#define AUX_UNSUPPORTED_ENTRY(name)      \
    ORVA_API_ENTRY uint32_t name(void) { \
        return AUX_E_NOT_SUPPORTED;      \
    }
ORVA_PELNOR_NAMES(AUX_CALLED_ENTRY, AUX_UNSUPPORTED_ENTRY)
#undef AUX_CALLED_ENTRY
#undef AUX_UNSUPPORTED_ENTRY

ORVA_API_ENTRY uint32_t AuxRegUserCert(const uint8_t* der, uint32_t len, const char* provider,
                                       const char* containerName, uint32_t keySpec, void*) {
    return guarded([&] {
        const auto bytes = certificate(der, len);
        orva::pelnor::Registration registration{orva::softkey::Bytes(bytes.begin(), bytes.end()),
                                                text(provider), text(containerName), keySpec};
        Store store = storeFor("AuxRegUserCert");
        orva::pelnor::registerCertificate(store, registration);
        return AUX_OK;
    });
}

ORVA_API_ENTRY uint32_t AuxUnRegUserCert(const uint8_t* der, uint32_t len) {
    return guarded([&] {
        const auto bytes = certificate(der, len);
        Store store = storeFor("AuxUnRegUserCert");
        return orva::pelnor::unregisterCertificate(store, bytes) ? AUX_OK : AUX_E_NOT_FOUND;
    });
}
