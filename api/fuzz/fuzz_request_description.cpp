// Input: the whole request description a page passes for certificate requests.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "hash_ids.h"
#include "request_description.h"

namespace {

// What every parsed item must hold, whatever the text was.
bool wellFormed(const orva::api::CertRequestItem& item) {
    const bool sm2 = item.keyAlgId == orva::api::kSm2KeyAlgId;
    const bool knownType =
        item.containerType == 3 || item.containerType == 4 || (!sm2 && item.containerType == 2);
    return !item.cn.empty() && item.subjectTextLength() < orva::api::kSubjectTextRoom &&
           knownType && item.signForm == item.containerType - 1 &&
           sm2 == (item.hashId == orva::api::kHashIdSm3) &&
           item.keyBits == (sm2                                            ? 256
                            : item.keyAlgId == orva::api::kRsa2048KeyAlgId ? 2048
                                                                           : 1024);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view description(reinterpret_cast<const char*>(data), size);
    const orva::api::Result<std::vector<orva::api::CertRequestItem>> items =
        orva::api::parseRequestDescription(description);
    if (items) {
        if (items->empty() || items->size() > 2) {
            __builtin_trap();
        }
        for (const auto& item : *items) {
            if (!wellFormed(item)) {
                __builtin_trap();
            }
        }
    } else if (items.code() != orva::kInvalidParameter && items.code() != orva::kHashTypeError &&
               items.code() != orva::kAsymIdTypeError && items.code() != orva::kCertUsageError) {
        __builtin_trap();
    }
    return 0;
}
