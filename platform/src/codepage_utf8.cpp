#include "codepage_utf8.h"

#include <cstddef>

namespace orva::platform {

namespace {

// Copies the run of ASCII units at `at` as they are and moves past it; false
// when out has no room for it.
template <class Unit, class OutUnit>
bool putAsciiRun(std::span<const Unit> in, std::size_t& at, Output<OutUnit>& out) {
    std::size_t end = at;
    while (end < in.size() && in[end] < 0x80) {
        ++end;
    }
    if (!out.put(in.subspan(at, end - at))) {
        return false;
    }
    at = end;
    return true;
}

}  // namespace

ConvertStatus utf8ToUtf16(std::span<const std::uint8_t> in, bool strict, Output<char16_t>& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (in[i] < 0x80) {
            if (!putAsciiRun(in, i, out)) {
                return ConvertStatus::kBufferTooSmall;
            }
            continue;
        }

        // The lead byte fixes the number of trail bytes and the range of the
        // first one; that range is what rules out overlongs, surrogates and
        // values above U+10FFFF. Later trail bytes are always 80..BF.
        const std::uint8_t lead = in[i];
        std::size_t trail = 0;
        std::uint8_t lo = 0x80;
        std::uint8_t hi = 0xBF;
        char32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            cp = lead & 0x0F;
            lo = lead == 0xE0 ? 0xA0 : 0x80;
            hi = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            cp = lead & 0x07;
            lo = lead == 0xF0 ? 0x90 : 0x80;
            hi = lead == 0xF4 ? 0x8F : 0xBF;
        }

        std::size_t seen = 1;  // bytes of a well-formed prefix, the lead included
        if (trail != 0) {
            while (seen <= trail && i + seen < n) {
                const std::uint8_t b = in[i + seen];
                if (b < lo || b > hi) {
                    break;
                }
                cp = (cp << 6) | (b & 0x3F);
                lo = 0x80;
                hi = 0xBF;
                ++seen;
            }
        }

        if (trail != 0 && seen == trail + 1) {
            if (!putUtf16(out, cp)) {
                return ConvertStatus::kBufferTooSmall;
            }
        } else {
            if (strict) {
                return ConvertStatus::kInvalidInput;
            }
            if (!out.put(static_cast<char16_t>(kReplacementChar))) {
                return ConvertStatus::kBufferTooSmall;
            }
        }
        i += seen;
    }
    return ConvertStatus::kOk;
}

ConvertStatus utf16ToUtf8(std::span<const char16_t> in, bool strict, Output<char>& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (in[i] < 0x80) {
            if (!putAsciiRun(in, i, out)) {
                return ConvertStatus::kBufferTooSmall;
            }
            continue;
        }

        const char16_t u = in[i];
        char32_t cp = u;
        std::size_t used = 1;
        if (isHighSurrogate(u) && i + 1 < n && isLowSurrogate(in[i + 1])) {
            cp = 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{in[i + 1]} - 0xDC00);
            used = 2;
        } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
            if (strict) {
                return ConvertStatus::kInvalidInput;
            }
            cp = kReplacementChar;
        }

        char bytes[4];
        std::size_t len;
        if (cp < 0x800) {
            bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
            bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
            len = 2;
        } else if (cp < 0x10000) {
            bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
            bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
            len = 3;
        } else {
            bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
            bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
            len = 4;
        }
        if (!out.put(std::span<const char>(bytes, len))) {
            return ConvertStatus::kBufferTooSmall;
        }
        i += used;
    }
    return ConvertStatus::kOk;
}

}  // namespace orva::platform
