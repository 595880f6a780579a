// BSTR conversions through the platform's code-page services.

#include "bstr_text.h"

#include <algorithm>
#include <climits>
#include <string_view>
#include <vector>

#include "current_charset.h"
#include "orva/unique_bstr.h"
#include "win32/codepage.h"

namespace orva::control {

namespace {

// GBK (directly or as the ANSI code page) replaces what it cannot hold; the
// other code pages hold every character.
bool substitutes(UINT codePage) noexcept {
    return codePage == CP_GBK || (codePage == CP_ACP && GetACP() == CP_GBK);
}

// count UTF-16 units (or up to the NUL with -1) to codePage, strictly.
ExportText fromWide(const OLECHAR* text, int count, UINT codePage) {
    const bool lossy = substitutes(codePage);
    const DWORD flags = lossy ? WC_NO_BEST_FIT_CHARS : WC_ERR_INVALID_CHARS;
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(codePage, flags, text, count, nullptr, 0, nullptr,
                                         lossy ? &usedDefault : nullptr);
    if (size <= 0 || usedDefault) {
        return ExportText();
    }
    std::vector<char> bytes(static_cast<std::size_t>(size) + 1, '\0');
    const int written = WideCharToMultiByte(codePage, flags, text, count, bytes.data(), size,
                                            nullptr, lossy ? &usedDefault : nullptr);
    if (written <= 0 || usedDefault) {
        return ExportText();
    }
    // With count -1 the NUL is among the bytes written.
    return ExportText(std::string(bytes.data()));
}

BSTR toBstr(const char* text, UINT codePage) noexcept {
    if (text == nullptr) {
        return nullptr;
    }
    const int count = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (count <= 0) {
        return nullptr;
    }
    UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(count - 1)));
    if (!result) {
        return nullptr;
    }
    // The BSTR has room for its characters and its own NUL: count units.
    if (MultiByteToWideChar(codePage, 0, text, -1, result.get(), count) != count) {
        return nullptr;
    }
    return result.release();
}

// count characters of text, which end without a NUL; none is the empty text.
ExportText fromCharacters(const OLECHAR* text, std::size_t count, UINT codePage) {
    if (count == 0) {
        return ExportText(std::string());
    }
    if (count > static_cast<std::size_t>(INT_MAX)) {
        return ExportText();
    }
    return fromWide(text, static_cast<int>(count), codePage);
}

}  // namespace

ExportText bstrToCharset(BSTR text, std::string_view charset) {
    if (text == nullptr || charset.empty()) {
        return ExportText();
    }
    // The BSTR's characters by its length, not by a NUL after them: an odd last
    // byte is no character. An embedded NUL ends the text for the library.
    return fromCharacters(text, SysStringLen(text), frontend::controlTextCodePage(charset));
}

ExportText bstrToAnsi(BSTR text) {
    if (text == nullptr) {
        return ExportText();
    }
    const std::u16string_view characters(text, SysStringLen(text));
    return fromCharacters(text, std::min(characters.find(u'\0'), characters.size()), CP_ACP);
}

BSTR utf8ToBstr(const char* text) noexcept {
    return toBstr(text, CP_UTF8);
}

BSTR ansiToBstr(const char* text) noexcept {
    return toBstr(text, CP_ACP);
}

}  // namespace orva::control
