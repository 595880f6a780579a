#include "request_description.h"

#include <array>
#include <optional>

#include "hash_ids.h"
#include "hash_name.h"

namespace orva::api {

namespace {

constexpr std::string_view kItemSeparator = "||";
constexpr std::size_t kMaxItems = 2;
constexpr std::string_view kBlanks = " \t";

struct KeyType {
    std::string_view name;
    int algId;
    int bits;
};

constexpr std::array<KeyType, 3> kKeyTypes = {{
    {"RSA2048", kRsa2048KeyAlgId, 2048},
    {"RSA1024", kRsa1024KeyAlgId, 1024},
    {"SM2256", kSm2KeyAlgId, 256},
}};

struct CertType {
    std::string_view name;
    int containerType;
};

constexpr std::array<CertType, 3> kCertTypes = {{{"01", 3}, {"02", 2}, {"03", 4}}};
constexpr int kSignOnlyContainerType = 2;  // an RSA-only certificate type

std::string_view trimBlanks(std::string_view text) noexcept {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// An item with the DN's subject. Each part of the DN is split at its first
// '='; the name, blanks around it trimmed, must be CN, OU or O exactly, and the
// first part naming a field wins. The value is kept as written.
CertRequestItem readDnParts(std::string_view dn) {
    CertRequestItem item;
    bool cnSet = false;
    bool ouSet = false;
    bool oSet = false;
    std::size_t start = 0;
    while (start <= dn.size()) {
        const std::size_t comma = dn.find(',', start);
        const std::string_view part = dn.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        start = comma == std::string_view::npos ? dn.size() + 1 : comma + 1;
        const std::size_t equals = part.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = trimBlanks(part.substr(0, equals));
        const std::string_view value = part.substr(equals + 1);
        if (name == "CN" && !cnSet) {
            item.cn = value;
            cnSet = true;
        } else if (name == "OU" && !ouSet) {
            item.ou = value;
            ouSet = true;
        } else if (name == "O" && !oSet) {
            item.o = value;
            oSet = true;
        }
    }
    return item;
}

// A field's text and where its ')' stands, from which the next field is
// searched.
struct Field {
    std::string_view value;
    std::size_t close;
};

// The text between label and the next ')', label searched from pos. None when
// either is missing or the text is empty.
[[nodiscard]] std::optional<Field> takeField(std::string_view text, std::string_view label,
                                             std::size_t pos) {
    const std::size_t at = text.find(label, pos);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t open = at + label.size();
    const std::size_t close = text.find(')', open);
    if (close == std::string_view::npos || close == open) {
        return std::nullopt;
    }
    return Field{text.substr(open, close - open), close};
}

Result<CertRequestItem> parseItem(std::string_view text) {
    // The DN: "DN", then the first '(' and the first ')' after it.
    const std::size_t dn = text.find("DN");
    const std::size_t open = dn == std::string_view::npos ? dn : text.find('(', dn + 2);
    const std::size_t close = open == std::string_view::npos ? open : text.find(')', open + 1);
    if (close == std::string_view::npos) {
        return kInvalidParameter;
    }
    CertRequestItem item = readDnParts(text.substr(open + 1, close - open - 1));
    if (item.cn.empty() || item.subjectTextLength() >= kSubjectTextRoom) {
        return kInvalidParameter;
    }

    // Blanks after the DN do not count.
    std::string rest;
    for (const char c : text.substr(close + 1)) {
        if (kBlanks.find(c) == std::string_view::npos) {
            rest += c;
        }
    }

    const std::optional<Field> hash = takeField(rest, "HASH(", 0);
    if (!hash) {
        return kInvalidParameter;
    }
    const std::optional<int> hashId = hashNameToId(hash->value);
    if (!hashId) {
        return kHashTypeError;
    }
    item.hashId = *hashId;

    const std::optional<Field> keyType = takeField(rest, "KEYTYPE(", hash->close);
    if (!keyType) {
        return kInvalidParameter;
    }
    const KeyType* key = nullptr;
    for (const KeyType& known : kKeyTypes) {
        if (keyType->value == known.name) {
            key = &known;
        }
    }
    if (key == nullptr) {
        return kAsymIdTypeError;
    }
    if ((key->algId == kSm2KeyAlgId) != (item.hashId == kHashIdSm3)) {
        return kHashTypeError;
    }
    item.keyAlgId = key->algId;
    item.keyBits = key->bits;

    const std::optional<Field> certType = takeField(rest, "CERTTYPE(", keyType->close);
    if (!certType || certType->close + 1 != rest.size()) {
        return kInvalidParameter;
    }
    for (const CertType& known : kCertTypes) {
        if (certType->value == known.name) {
            item.containerType = known.containerType;
        }
    }
    if (item.containerType == 0 ||
        (item.containerType == kSignOnlyContainerType && item.keyAlgId == kSm2KeyAlgId)) {
        return kCertUsageError;
    }
    item.signForm = item.containerType - 1;
    return item;
}

}  // namespace

Result<std::vector<CertRequestItem>> parseRequestDescription(std::string_view description) {
    std::vector<std::string_view> texts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t separator = description.find(kItemSeparator, start);
        texts.push_back(description.substr(start, separator == std::string_view::npos
                                                      ? std::string_view::npos
                                                      : separator - start));
        if (texts.size() > kMaxItems) {
            return kInvalidParameter;
        }
        if (separator == std::string_view::npos) {
            break;
        }
        start = separator + kItemSeparator.size();
    }
    std::vector<CertRequestItem> items;
    for (const std::string_view text : texts) {
        Result<CertRequestItem> item = parseItem(text);
        if (!item) {
            return item.code();
        }
        items.push_back(std::move(*item));
    }
    return items;
}

}  // namespace orva::api
