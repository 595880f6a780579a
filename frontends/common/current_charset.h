#pragma once

// A front end's charset setting, and each front end's rule for the transaction
// and display texts it hands to the key. The setting is the front end's own;
// the token API library keeps one of its own, which SetCharset changes too.

#include <array>
#include <cstddef>
#include <string_view>

#include "win32/types.h"

namespace orva::frontend {

// CurrentCharset: 64 bytes, at most 63 characters and the NUL, "GBK" at start.
class CurrentCharset {
  public:
    static constexpr std::size_t kRoom = 64;

    CurrentCharset() noexcept { store("GBK"); }

    // Stores name with its NUL; false and nothing stored when it would not fit
    // (or holds a NUL of its own).
    bool store(std::string_view name) noexcept;
    std::string_view name() const noexcept;

  private:
    std::array<char, kRoom> text_{};
};

enum class TextTreatment {
    asReceived,  // the page's UTF-8 bytes go to the key unchanged
    toGb18030,   // converted to code page 54936
};

// Charset names are compared without regard to case, as the library compares
// them, so that the key is never told one charset and handed bytes in another.

// The host: a name that contains "UTF-8" passes the texts as received; any
// other converts them to GB18030.
TextTreatment hostTextTreatment(std::string_view charset) noexcept;
// The plug-in: "GBK" or "GB18030" converts to GB18030; any other name passes.
TextTreatment pluginTextTreatment(std::string_view charset) noexcept;
// The control: the code page its texts are converted to: 54936 for "GBK" and
// "GB18030", the ANSI code page for "CP_ACP", UTF-8 for any other name.
UINT controlTextCodePage(std::string_view charset) noexcept;

}  // namespace orva::frontend
