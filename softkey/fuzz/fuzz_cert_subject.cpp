// Input: a DER certificate. Its subject as QZAlgLib writes it, read back as
// the token API library reads it: the first CN item names the certificate's
// own (most specific) CN, and every item is one attribute of the name, in
// order, its value unescaped to the attribute's value.

#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cert_subject.h"
#include "distinguished_name.h"
#include "failure.h"
#include "orva/openssl_ptr.h"

namespace {

struct Attribute {
    bool commonName = false;
    std::string value;
};

// The subject's attributes, most specific first, values in UTF-8.
std::vector<Attribute> attributesOf(std::span<const std::uint8_t> der) {
    const unsigned char* next = der.data();
    const orva::X509Ptr cert(d2i_X509(nullptr, &next, static_cast<long>(der.size())));
    const X509_NAME* name = cert ? X509_get_subject_name(cert.get()) : nullptr;
    if (name == nullptr) {
        __builtin_trap();  // the decoder took it
    }
    std::vector<Attribute> attributes;
    for (int i = X509_NAME_entry_count(name) - 1; i >= 0; --i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        unsigned char* utf8 = nullptr;
        const int size = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        const orva::OpensslBytesPtr owner(utf8);
        if (size < 0) {
            __builtin_trap();
        }
        attributes.push_back(
            {OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry)) == NID_commonName,
             std::string(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(size))});
    }
    return attributes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string subject;
    try {
        subject = orva::qzalg::certSubject({data, size});
    } catch (const orva::qzalg::Failure&) {
        return 0;
    }
    if (subject.size() > orva::qzalg::kSubjectMaxBytes) {
        __builtin_trap();
    }
    const std::vector<Attribute> attributes = attributesOf({data, size});
    const std::vector<orva::api::DnItem> items = orva::api::distinguishedNameItems(subject);
    // A cut drops at most a UTF-8 character and the backslash of an escape,
    // and may leave the last item short.
    const bool whole = subject.size() + 4 < orva::qzalg::kSubjectMaxBytes;
    if (items.size() > attributes.size() || (whole && items.size() != attributes.size())) {
        __builtin_trap();
    }
    std::optional<std::string> ownCn;
    for (const Attribute& attribute : attributes) {
        if (attribute.commonName) {
            ownCn = attribute.value;
            break;
        }
    }
    if (whole && orva::api::commonNameValue(subject) != ownCn.value_or(std::string())) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        const bool last = i + 1 == items.size();
        const orva::api::DnItem& item = items[i];
        const Attribute& attribute = attributes[i];
        if (last && !whole) {
            if (item.value && !attribute.value.starts_with(*item.value)) {
                __builtin_trap();
            }
            continue;
        }
        if (!item.value || *item.value != attribute.value ||
            (item.name == "CN") != attribute.commonName) {
            __builtin_trap();
        }
    }
    return 0;
}
