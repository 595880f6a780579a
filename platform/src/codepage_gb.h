#pragma once

// GBK (936) and GB18030 (54936) <-> UTF-16, through the system's iconv.

#include <cstdint>
#include <span>

#include "codepage_output.h"

namespace orva::platform {

enum class GbCodePage { kGbk, kGb18030 };

// Decodes GBK or GB18030. Unless `strict`, a bad or truncated sequence
// consumes one byte and becomes one U+FFFD; decoding resumes at the next byte.
ConvertStatus gbToUtf16(GbCodePage page, std::span<const std::uint8_t> in, bool strict,
                        Output<char16_t>& out);

// How characters without a translation are written.
struct GbSubstitution {
    bool strict = false;       // fail instead (GB18030 only)
    char defaultChar = '?';    // GBK's stand-in
    bool usedDefault = false;  // set when the stand-in was written
};

// Encodes UTF-16 as GBK or GB18030. An unpaired surrogate, or a character the
// code page cannot carry, becomes GBK's default char or GB18030's U+FFFD;
// with `strict` it fails the conversion.
ConvertStatus utf16ToGb(GbCodePage page, std::span<const char16_t> in, GbSubstitution& subst,
                        Output<char>& out);

}  // namespace orva::platform
