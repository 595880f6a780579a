#pragma once

// cJSON with an owner, and checked readers: a member of the wrong type or out of
// range reads as missing, so the caller decides what missing means.

#include <cjson/cJSON.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "orva/cleanse.h"
#include "orva/json_ptr.h"
#include "secure_bytes.h"

namespace orva::softkey::json {

using Ptr = orva::JsonPtr;

// cJSON answers null when it cannot allocate.
inline cJSON* made(cJSON* item) {
    if (item == nullptr) {
        throw std::bad_alloc();
    }
    return item;
}

inline Ptr object() {
    return Ptr(made(cJSON_CreateObject()));
}
inline Ptr array() {
    return Ptr(made(cJSON_CreateArray()));
}

// Whether text holds a NUL, as a byte or escaped as \u0000. cJSON decodes
// strings and names into C strings, where a NUL would cut them short instead
// of failing the parse. In JSON a backslash only starts an escape inside a
// string, so each one is an escape of its own.
inline bool holdsNul(std::string_view text) noexcept {
    if (text.find('\0') != std::string_view::npos) {
        return true;
    }
    for (std::size_t at = text.find('\\'); at != std::string_view::npos;
         at = text.find('\\', at + 2)) {
        if (text.substr(at + 1, 5) == "u0000") {
            return true;
        }
    }
    return false;
}

// The document, or null when the text is not one JSON value (trailing text
// other than white space included) or holds a NUL.
inline Ptr parse(std::string_view text) {
    if (holdsNul(text)) {
        return nullptr;
    }
    const char* end = nullptr;
    Ptr doc(cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, false));
    if (doc == nullptr || end == nullptr) {
        return nullptr;
    }
    const std::size_t used = static_cast<std::size_t>(end - text.data());
    if (used > text.size() ||
        text.substr(used).find_first_not_of(" \t\r\n") != std::string_view::npos) {
        return nullptr;
    }
    return doc;
}

// Hands item to parent (an object, or an array when name is null).
inline cJSON* add(cJSON* parent, const char* name, Ptr item) {
    cJSON* raw = item.get();
    const bool ok = name != nullptr ? cJSON_AddItemToObject(parent, name, raw)
                                    : cJSON_AddItemToArray(parent, raw);
    if (!ok) {
        throw std::bad_alloc();
    }
    item.release();
    return raw;
}
// The value may be a secret (a key file's PEM): its NUL-terminated copy is one too.
inline void addString(cJSON* parent, const char* name, std::string_view value) {
    add(parent, name, Ptr(made(cJSON_CreateString(SecureString(value).c_str()))));
}
inline void addNumber(cJSON* parent, const char* name, double value) {
    add(parent, name, Ptr(made(cJSON_CreateNumber(value))));
}
inline void addBool(cJSON* parent, const char* name, bool value) {
    add(parent, name, Ptr(made(cJSON_CreateBool(value))));
}

// The text of a document, indented or on one line; wiped before cJSON frees it,
// since key files hold private keys.
inline SecureString print(const cJSON* item, bool indented) {
    char* text = indented ? cJSON_Print(item) : cJSON_PrintUnformatted(item);
    if (text == nullptr) {
        throw std::bad_alloc();
    }
    const std::size_t size = std::char_traits<char>::length(text);
    SecureString out;
    try {
        out.assign(text, size);
    } catch (...) {
        cleanse(text, size);
        cJSON_free(text);
        throw;
    }
    cleanse(text, size);
    cJSON_free(text);
    return out;
}

inline const cJSON* member(const cJSON* object, const char* name) {
    return cJSON_IsObject(object) ? cJSON_GetObjectItemCaseSensitive(object, name) : nullptr;
}

inline std::optional<std::string_view> string(const cJSON* item) {
    if (!cJSON_IsString(item) || item->valuestring == nullptr) {
        return std::nullopt;
    }
    return std::string_view(item->valuestring);
}
inline std::optional<std::string_view> string(const cJSON* object, const char* name) {
    return string(member(object, name));
}

// A whole number 0..max.
inline std::optional<std::uint32_t> uint(const cJSON* item, std::uint32_t max = UINT32_MAX) {
    if (!cJSON_IsNumber(item)) {
        return std::nullopt;
    }
    const double v = item->valuedouble;
    if (!(v >= 0 && v <= static_cast<double>(max)) ||
        v != static_cast<double>(static_cast<std::uint64_t>(v))) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(v);
}
inline std::optional<std::uint32_t> uint(const cJSON* object, const char* name,
                                         std::uint32_t max = UINT32_MAX) {
    return uint(member(object, name), max);
}

inline std::optional<bool> boolean(const cJSON* object, const char* name) {
    const cJSON* item = member(object, name);
    if (!cJSON_IsBool(item)) {
        return std::nullopt;
    }
    return cJSON_IsTrue(item) != 0;
}

}  // namespace orva::softkey::json
