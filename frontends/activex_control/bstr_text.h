#pragma once

// The control's text conversions between BSTRs and the byte texts the token
// API library takes and gives. Byte texts going to the library are strict: a
// character the target code page cannot hold fails the conversion (the text
// is signed or names a file). Texts coming back are shown, never refused.
// Memory that runs out is std::bad_alloc; the method turns it into kMallocFailed.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "win32/com.h"

namespace orva::control {

// A converted argument: null for a null BSTR and for one that does not convert.
class ExportText {
  public:
    ExportText() = default;
    explicit ExportText(std::string text) : text_(std::move(text)) {}

    const char* get() const noexcept { return text_ ? text_->c_str() : nullptr; }
    bool isNull() const noexcept { return !text_; }
    // Null, or the empty text.
    bool isEmpty() const noexcept { return !text_ || text_->empty(); }
    // Bytes without the NUL.
    std::size_t length() const noexcept { return text_ ? text_->size() : 0; }

  private:
    std::optional<std::string> text_;
};

// To the code page a charset name selects (the control's charset rule);
// "CP_ACP" and "UTF-8" name the ANSI code page and UTF-8 themselves. Both
// read the BSTR's SysStringLen characters.
ExportText bstrToCharset(BSTR text, std::string_view charset);
// To the ANSI code page, up to the BSTR's first NUL.
ExportText bstrToAnsi(BSTR text);

// A new BSTR from a NUL-terminated text; null when no BSTR can be had.
BSTR utf8ToBstr(const char* text) noexcept;
BSTR ansiToBstr(const char* text) noexcept;

}  // namespace orva::control
