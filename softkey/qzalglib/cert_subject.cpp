#include "cert_subject.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <climits>
#include <string_view>

#include "failure.h"
#include "orva/bytes.h"
#include "orva/openssl_ptr.h"
#include "recent_cache.h"

namespace orva::qzalg {

namespace {

// The attribute's short name; an attribute OpenSSL does not know reads as its
// dotted OID.
std::string attributeName(const ASN1_OBJECT* object) {
    const int nid = OBJ_obj2nid(object);
    if (nid == NID_pkcs9_emailAddress) {
        return "E";
    }
    if (nid != NID_undef) {
        if (const char* sn = OBJ_nid2sn(nid); sn != nullptr) {
            return sn;
        }
    }
    const int size = OBJ_obj2txt(nullptr, 0, object, 1);
    sslCheck(size > 0 && size < INT_MAX);
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    sslCheck(OBJ_obj2txt(text.data(), size + 1, object, 1) == size);
    text.resize(static_cast<std::size_t>(size));
    return text;
}

// The attribute's value in UTF-8, whatever string type the name stores it in.
std::string attributeValue(const ASN1_STRING* value) {
    unsigned char* utf8 = nullptr;
    const int size = ASN1_STRING_to_UTF8(&utf8, value);
    const orva::OpensslBytesPtr owner(utf8);
    sslCheck(size >= 0 && (size == 0 || utf8 != nullptr));
    std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(size));
    // A NUL inside a value would end the caller's text early and show it a
    // different, shorter subject.
    sslCheck(text.find('\0') == std::string::npos);
    return text;
}

// The value as RFC 4514 writes it, so that a reader splitting at commas never
// takes a separator inside a value for one between items. A bar is written as
// its hex pair, so that "||", which joins subjects into lists, never stands
// inside one. A value without these characters stays as it is.
std::string escapedValue(std::string_view value) {
    constexpr std::string_view kAlwaysEscaped = ",+\"\\<>;";
    std::string text;
    text.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool leading = i == 0 && (c == ' ' || c == '#');
        const bool trailing = i + 1 == value.size() && c == ' ';
        if (c == '|') {
            text += "\\7C";
            continue;
        }
        if (leading || trailing || kAlwaysEscaped.find(c) != std::string_view::npos) {
            text += '\\';
        }
        text += c;
    }
    return text;
}

// Cuts text to at most max bytes without splitting a UTF-8 character or an
// escape.
void cutAtCharacter(std::string& text, std::size_t max) {
    if (text.size() <= max) {
        return;
    }
    std::size_t end = max;
    // text[end] is the first byte dropped; a continuation byte there means the
    // character it belongs to started before end and goes too.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    // Escapes are a backslash and one character, or a backslash and a hex pair
    // (a bar); an escape that does not end before end goes whole.
    for (std::size_t at = 0; at < end; ++at) {
        if (text[at] == '\\') {
            const std::size_t length = text[at + 1] == '7' ? 3 : 2;
            if (at + length > end) {
                end = at;
                break;
            }
            at += length - 1;
        }
    }
    text.resize(end);
}

// Decoding a certificate costs more than a signature (OpenSSL decodes its public
// key too), and the token API library asks for the subjects of the same few
// certificates on every walk of the key: the subjects of the certificates
// decoded lately are kept.
constexpr std::size_t kRecentSubjects = 64;
constexpr std::size_t kLargestKept = 16u << 10;
constinit softkey::RecentCache<Bytes, std::string> gRecentSubjects(kRecentSubjects);

std::string decodeSubject(std::span<const std::uint8_t> der) {
    const unsigned char* next = der.data();
    const orva::X509Ptr cert(d2i_X509(nullptr, &next, static_cast<long>(der.size())));
    sslCheck(cert != nullptr);
    sslCheck(next == der.data() + der.size());

    const X509_NAME* name = X509_get_subject_name(cert.get());
    sslCheck(name != nullptr);
    std::string text;
    for (int i = X509_NAME_entry_count(name) - 1; i >= 0; --i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        sslCheck(entry != nullptr);
        if (!text.empty()) {
            text += ',';
        }
        text += attributeName(X509_NAME_ENTRY_get_object(entry));
        text += '=';
        text += escapedValue(attributeValue(X509_NAME_ENTRY_get_data(entry)));
    }
    cutAtCharacter(text, kSubjectMaxBytes);
    return text;
}

}  // namespace

std::string certSubject(std::span<const std::uint8_t> der) {
    require(!der.empty() && der.size() <= LONG_MAX);
    if (der.size() > kLargestKept) {
        return decodeSubject(der);
    }
    Bytes key(der.begin(), der.end());
    if (auto subject = gRecentSubjects.find(key)) {
        return std::move(*subject);
    }
    std::string subject = decodeSubject(der);
    gRecentSubjects.remember(std::move(key), subject);
    return subject;
}

}  // namespace orva::qzalg
