// The charset setting and the front ends' charset rules.

#include "current_charset.h"

#include <algorithm>
#include <cstring>

#include "win32/codepage.h"

namespace orva::frontend {

namespace {

char lower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool containsIgnoringCase(std::string_view text, std::string_view part) noexcept {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char x, char y) { return lower(x) == lower(y); }) != text.end();
}

bool namesGb18030(std::string_view charset) noexcept {
    return sameIgnoringCase(charset, "GBK") || sameIgnoringCase(charset, "GB18030");
}

}  // namespace

bool CurrentCharset::store(std::string_view name) noexcept {
    if (name.size() >= kRoom || name.find('\0') != std::string_view::npos) {
        return false;
    }
    text_.fill('\0');
    std::memcpy(text_.data(), name.data(), name.size());
    return true;
}

std::string_view CurrentCharset::name() const noexcept {
    return {text_.data(), strnlen(text_.data(), kRoom)};
}

TextTreatment hostTextTreatment(std::string_view charset) noexcept {
    return containsIgnoringCase(charset, "UTF-8") ? TextTreatment::asReceived
                                                  : TextTreatment::toGb18030;
}

TextTreatment pluginTextTreatment(std::string_view charset) noexcept {
    return namesGb18030(charset) ? TextTreatment::toGb18030 : TextTreatment::asReceived;
}

UINT controlTextCodePage(std::string_view charset) noexcept {
    if (namesGb18030(charset)) {
        return CP_GB18030;
    }
    if (sameIgnoringCase(charset, "CP_ACP")) {
        return CP_ACP;
    }
    return CP_UTF8;
}

}  // namespace orva::frontend
