// Arguments, output buffers, the charset rule and results of the methods.

#include "invoke_support.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "browser_functions.h"
#include "current_charset.h"
#include "plugin_charset.h"

namespace orva::npapi_plugin {

void Arguments::require(uint32_t count) const {
    if (count_ < count) {
        throw MethodAnswer{kInvalidParameter};
    }
}

bool Arguments::isString(uint32_t n) const noexcept {
    return n < count_ && args_[n].type == NPVariantType_String;
}

std::string_view Arguments::string(uint32_t n) const {
    if (!isString(n)) {
        throw MethodAnswer{kInvalidParameter};
    }
    const NPString& value = args_[n].value.stringValue;
    if (value.UTF8Characters == nullptr) {
        return {};
    }
    return {value.UTF8Characters, value.UTF8Length};
}

std::string Arguments::boundedText(uint32_t n, std::size_t limit) const {
    const std::string_view value = string(n);
    if (value.size() >= limit) {
        throw MethodAnswer{kInvalidParameter};
    }
    return std::string(value);
}

frontend::ConvertedText Arguments::path(uint32_t n) const {
    const std::string utf8 = text(n);
    if (utf8.empty()) {
        throw MethodAnswer{kInvalidParameter};
    }
    std::optional<frontend::ConvertedText> ansi = frontend::utf8ToAnsi(utf8.c_str());
    if (!ansi) {
        throw MethodAnswer{kConvertStringError};
    }
    return std::move(*ansi);
}

int32_t Arguments::number(uint32_t n) const {
    if (n >= count_) {
        throw MethodAnswer{kInvalidParameter};
    }
    const NPVariant& value = args_[n];
    switch (value.type) {
        case NPVariantType_Int32:
            return value.value.intValue;
        case NPVariantType_Double: {
            const double truncated = std::trunc(value.value.doubleValue);
            if (!std::isfinite(truncated) || truncated < INT32_MIN || truncated > INT32_MAX) {
                throw MethodAnswer{kInvalidParameter};
            }
            return static_cast<int32_t>(truncated);
        }
        case NPVariantType_String: {
            // strtol's reading, into 64 bits, then checked against 32.
            const std::string digits = text(n);
            errno = 0;
            const long long parsed = std::strtoll(digits.c_str(), nullptr, 10);
            if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) {
                throw MethodAnswer{kInvalidParameter};
            }
            return static_cast<int32_t>(parsed);
        }
        default:
            return 0;
    }
}

SigningTexts signingTexts(const Arguments& args, uint32_t transaction, uint32_t display) {
    std::string xml = args.text(transaction);
    std::string key = args.text(display);
    // No transaction is no transaction in any charset: its NUL alone would
    // otherwise be signed under GBK.
    if (xml.empty()) {
        throw MethodAnswer{kInvalidParameter};
    }
    if (frontend::pluginTextTreatment(pluginCharset().name()) ==
        frontend::TextTreatment::asReceived) {
        if (xml.size() > INT_MAX) {
            throw MethodAnswer{kMallocFailed};
        }
        const int length = static_cast<int>(xml.size());
        return {std::move(xml), std::move(key), length};
    }
    const std::optional<frontend::ConvertedText> xmlGb = frontend::utf8ToGb18030(xml.c_str());
    const std::optional<frontend::ConvertedText> keyGb = frontend::utf8ToGb18030(key.c_str());
    if (!xmlGb || !keyGb) {
        throw MethodAnswer{kConvertStringError};
    }
    if (xmlGb->written() > INT_MAX) {
        throw MethodAnswer{kMallocFailed};
    }
    // The length handed over counts the NUL: what the key signs has always
    // ended in it under these charsets, and servers may check for it.
    return {std::string(xmlGb->c_str(), xmlGb->length()),
            std::string(keyGb->c_str(), keyGb->length()), static_cast<int>(xmlGb->written())};
}

void answerCode(NPVariant* result, int32_t code) noexcept {
    result->type = NPVariantType_Int32;
    result->value.intValue = code;
}

bool answerString(NPVariant* result, std::string_view text) noexcept {
    if (text.size() >= UINT32_MAX) {
        return false;
    }
    // Never a zero-size request: the empty String still gets characters.
    auto* characters = static_cast<char*>(
        NPN_MemAlloc(static_cast<uint32_t>(std::max<std::size_t>(text.size(), 1))));
    if (characters == nullptr) {
        return false;
    }
    if (!text.empty()) {
        std::memcpy(characters, text.data(), text.size());
    }
    result->type = NPVariantType_String;
    result->value.stringValue = {characters, static_cast<uint32_t>(text.size())};
    return true;
}

void answerText(ScriptablePluginObject& self, NPVariant* result, std::string_view text) noexcept {
    HeldResult& slot = self.held(0);
    self.ReleaseHeldResult(slot);
    if (text.size() > INT32_MAX) {
        answerCode(result, kMallocFailed);
        return;
    }
    slot.text = static_cast<char*>(
        NPN_MemAlloc(static_cast<uint32_t>(std::max<std::size_t>(text.size(), 1))));
    if (slot.text == nullptr) {
        answerCode(result, kMallocFailed);
        return;
    }
    if (!text.empty()) {
        std::memcpy(slot.text, text.data(), text.size());
    }
    slot.length = static_cast<int32_t>(text.size());
    if (!answerString(result, {slot.text, text.size()})) {
        answerCode(result, kMallocFailed);
    }
    self.ReleaseHeldResult(slot);
}

void answerOutput(ScriptablePluginObject& self, NPVariant* result, int code,
                  const frontend::OutputBuffer& output) noexcept {
    if (code != kSuccess) {
        answerCode(result, code);
        return;
    }
    answerText(self, result, output.reportedText());
}

}  // namespace orva::npapi_plugin
