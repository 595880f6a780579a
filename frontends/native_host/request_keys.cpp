// The key classes of host requests.

#include "request_keys.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace orva::native_host {

ArgumentText ArgumentText::borrowed(const char* text) noexcept {
    ArgumentText argument;
    argument.borrowed_ = text;
    argument.length_ = std::strlen(text);
    argument.count_ = argument.length_;
    return argument;
}

ArgumentText ArgumentText::converted(frontend::ConvertedText text) noexcept {
    ArgumentText argument;
    argument.length_ = text.length();
    argument.count_ = text.written();
    argument.owned_.emplace(std::move(text));
    return argument;
}

const char* ArgumentText::get() const noexcept {
    return owned_ ? owned_->c_str() : borrowed_;
}

bool isAllDigits(const char* text) noexcept {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
    }
    return true;
}

bool readJsonInt(const cJSON* item, std::int32_t& value) noexcept {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    if (cJSON_IsNumber(item)) {
        const double number = std::trunc(item->valuedouble);
        if (!std::isfinite(number) || number > kMax || number < kMin) {
            return false;
        }
        value = static_cast<std::int32_t>(number);
        return true;
    }
    if (cJSON_IsString(item) && isAllDigits(item->valuestring)) {
        std::int64_t total = 0;
        for (const char* c = item->valuestring; *c != '\0'; ++c) {
            total = total * 10 + (*c - '0');
            if (total > kMax) {
                return false;
            }
        }
        value = static_cast<std::int32_t>(total);
        return true;
    }
    return false;
}

const cJSON* RequestKeys::find(const char* key) noexcept {
    if (failed()) {
        return nullptr;
    }
    // Keys are matched without regard to case; the first match wins.
    const cJSON* item = cJSON_GetObjectItem(request_, key);
    if (item == nullptr) {
        failure_ = kInvalidParameter;
    }
    return item;
}

void RequestKeys::fail(ApiErrorCode code) noexcept {
    if (!failed()) {
        failure_ = code;
    }
}

const cJSON* RequestKeys::item(const char* key) {
    return find(key);
}

std::optional<const char*> RequestKeys::string(const char* key) {
    const cJSON* item = find(key);
    if (item == nullptr) {
        return std::nullopt;
    }
    if (!cJSON_IsString(item) || item->valuestring == nullptr) {
        fail(kInvalidParameter);
        return std::nullopt;
    }
    return item->valuestring;
}

std::optional<const char*> RequestKeys::text(const char* key) {
    const std::optional<const char*> value = string(key);
    if (value && **value == '\0') {
        fail(kInvalidParameter);
        return std::nullopt;
    }
    return value;
}

std::optional<const char*> RequestKeys::present(const char* key) {
    const cJSON* item = find(key);
    if (item == nullptr) {
        return std::nullopt;
    }
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

std::optional<ArgumentText> RequestKeys::charsetText(const char* key) {
    const std::optional<const char*> value = text(key);
    if (!value) {
        return std::nullopt;
    }
    if (frontend::hostTextTreatment(charset_.name()) == frontend::TextTreatment::asReceived) {
        return ArgumentText::borrowed(*value);
    }
    std::optional<frontend::ConvertedText> converted = frontend::utf8ToGb18030(*value);
    if (!converted) {
        fail(kMallocFailed);
        return std::nullopt;
    }
    return ArgumentText::converted(std::move(*converted));
}

std::optional<ArgumentText> RequestKeys::path(const char* key) {
    const cJSON* item = find(key);
    if (item == nullptr) {
        return std::nullopt;
    }
    if (!cJSON_IsString(item) || item->valuestring == nullptr || *item->valuestring == '\0') {
        return ArgumentText::none();
    }
    std::optional<frontend::ConvertedText> converted = frontend::utf8ToAnsi(item->valuestring);
    if (!converted) {
        fail(kMallocFailed);
        return std::nullopt;
    }
    return ArgumentText::converted(std::move(*converted));
}

std::optional<std::int32_t> RequestKeys::integer(const char* key) {
    const cJSON* item = find(key);
    if (item == nullptr) {
        return std::nullopt;
    }
    std::int32_t value = 0;
    if (!readJsonInt(item, value)) {
        fail(kInvalidParameter);
        return std::nullopt;
    }
    return value;
}

}  // namespace orva::native_host
