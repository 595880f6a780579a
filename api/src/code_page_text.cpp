#include "code_page_text.h"

#include <climits>

#include "win32/codepage.h"

namespace orva::api {

namespace {

// Through UTF-16, as the code-page services convert. defaultChar stands in for
// a character the target lacks; null makes such a character a failure.
[[nodiscard]] std::optional<std::string> convert(std::string_view text, UINT from, UINT to,
                                                 const char* defaultChar) {
    if (text.empty()) {
        return std::string();
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const int length = static_cast<int>(text.size());
    const int wideLength =
        MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (wideLength <= 0) {
        return std::nullopt;
    }
    std::u16string wide(static_cast<std::size_t>(wideLength), u'\0');
    if (MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(),
                            wideLength) != wideLength) {
        return std::nullopt;
    }
    const DWORD flags = defaultChar == nullptr ? WC_ERR_INVALID_CHARS : 0;
    const int outLength =
        WideCharToMultiByte(to, flags, wide.data(), wideLength, nullptr, 0, defaultChar, nullptr);
    if (outLength <= 0) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(outLength), '\0');
    if (WideCharToMultiByte(to, flags, wide.data(), wideLength, out.data(), outLength, defaultChar,
                            nullptr) != outLength) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

std::optional<std::string> ansiToUtf8(std::string_view text) {
    return convert(text, CP_ACP, CP_UTF8, nullptr);
}

std::optional<std::string> utf8ToAnsi(std::string_view text) {
    // UTF-8 holds every character; the GB code pages take a stand-in.
    return convert(text, CP_UTF8, CP_ACP, GetACP() == CP_UTF8 ? nullptr : "_");
}

}  // namespace orva::api
