// Input: the whole input is the certificate list a page passes.

#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "certificate_list.h"
#include "orva/openssl_ptr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto certificates = orva::api::parseCertificateList(text);
    if (!certificates) {
        return 0;
    }
    // Every certificate fits a container's file and is exactly one whole DER
    // certificate.
    for (const orva::api::Bytes& der : *certificates) {
        const unsigned char* in = der.data();
        const orva::X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(der.size())));
        if (der.size() > 4096 || !certificate || in != der.data() + der.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
