#pragma once

// UTF-8 <-> UTF-16, strict: overlongs, surrogates and values above U+10FFFF
// are invalid in UTF-8, unpaired surrogates are invalid in UTF-16.

#include <cstdint>
#include <span>

#include "codepage_output.h"

namespace orva::platform {

// Decodes UTF-8. Unless `strict`, each maximal invalid subpart (the longest
// prefix of a well-formed sequence, else one byte) becomes one U+FFFD.
ConvertStatus utf8ToUtf16(std::span<const std::uint8_t> in, bool strict, Output<char16_t>& out);

// Encodes UTF-16 as UTF-8. Unless `strict`, an unpaired surrogate becomes
// U+FFFD (EF BF BD).
ConvertStatus utf16ToUtf8(std::span<const char16_t> in, bool strict, Output<char>& out);

}  // namespace orva::platform
