#include "codepage_gb.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <new>
#include <utility>

#include "orva/iconv.h"

namespace orva::platform {

namespace {

using orva::Iconv;

// Code points cross iconv in the host's byte order, so they read back as char32_t.
constexpr const char* kUtf32 = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";

// U+FFFD in GB18030; GBK has no such character.
constexpr std::array<char, 4> kGb18030Replacement = {'\x84', '\x31', '\xA4', '\x37'};

enum class Direction { kDecode, kEncode };

// The descriptor for one code page and direction, opened on first use and kept
// for the thread (a descriptor must not be used by two threads at once).
Iconv* descriptor(GbCodePage page, Direction direction) {
    thread_local std::array<Iconv, 4> cache;
    const char* name = page == GbCodePage::kGbk ? "CP936" : "GB18030";
    const std::size_t slot =
        (page == GbCodePage::kGbk ? 0 : 2) + (direction == Direction::kDecode ? 0 : 1);
    Iconv& cd = cache[slot];
    if (!cd.isOpen()) {
        const bool opened =
            direction == Direction::kDecode ? cd.open(kUtf32, name) : cd.open(name, kUtf32);
        if (!opened) {
            return nullptr;
        }
    }
    cd.reset();
    return &cd;
}

[[nodiscard]] bool putUtf16(Output<char16_t>& out, std::span<const char32_t> cps) {
    for (const char32_t cp : cps) {
        if (!putUtf16(out, cp)) {
            return false;
        }
    }
    return true;
}

// Writes the stand-in for a character with no translation.
ConvertStatus substitute(GbCodePage page, GbSubstitution& subst, Output<char>& out) {
    if (page == GbCodePage::kGbk) {
        subst.usedDefault = true;
        return out.put(subst.defaultChar) ? ConvertStatus::kOk : ConvertStatus::kBufferTooSmall;
    }
    if (subst.strict) {
        return ConvertStatus::kInvalidInput;
    }
    return out.put(std::span<const char>(kGb18030Replacement)) ? ConvertStatus::kOk
                                                               : ConvertStatus::kBufferTooSmall;
}

// Encodes scalar values; the ones iconv cannot map are substituted one by one.
// For GB18030 those are only 24 private-use code points (U+E78D..U+E796 and
// some in U+E816..U+E864) that glibc leaves out of its table.
ConvertStatus encodeScalars(Iconv& cd, GbCodePage page, std::span<const char32_t> cps,
                            GbSubstitution& subst, Output<char>& out) {
    const char* src = reinterpret_cast<const char*>(cps.data());
    std::size_t srcLeft = cps.size_bytes();
    while (srcLeft > 0) {
        std::array<char, 1024> bytes;
        char* dst = bytes.data();
        std::size_t dstLeft = bytes.size();
        const int error = cd.convert(src, srcLeft, dst, dstLeft);
        const std::size_t produced = bytes.size() - dstLeft;
        if (!out.put(std::span<const char>(bytes.data(), produced))) {
            return ConvertStatus::kBufferTooSmall;
        }
        if (error == 0 || error == E2BIG) {
            continue;
        }
        if (error != EILSEQ) {
            return ConvertStatus::kUnavailable;
        }
        const ConvertStatus status = substitute(page, subst, out);
        if (status != ConvertStatus::kOk) {
            return status;
        }
        src += sizeof(char32_t);
        srcLeft -= sizeof(char32_t);
    }
    return ConvertStatus::kOk;
}

}  // namespace

ConvertStatus gbToUtf16(GbCodePage page, std::span<const std::uint8_t> in, bool strict,
                        Output<char16_t>& out) {
    Iconv* cd = descriptor(page, Direction::kDecode);
    if (cd == nullptr) {
        return ConvertStatus::kUnavailable;
    }
    const char* src = reinterpret_cast<const char*>(in.data());
    std::size_t srcLeft = in.size();
    while (srcLeft > 0) {
        std::array<char32_t, 256> cps;
        char* dst = reinterpret_cast<char*>(cps.data());
        std::size_t dstLeft = sizeof(cps);
        const int error = cd->convert(src, srcLeft, dst, dstLeft);
        const std::size_t produced = (sizeof(cps) - dstLeft) / sizeof(char32_t);
        if (!putUtf16(out, std::span<const char32_t>(cps.data(), produced))) {
            return ConvertStatus::kBufferTooSmall;
        }
        if (error == 0 || error == E2BIG) {
            continue;
        }
        // iconv stops at the first byte of the bad sequence (EILSEQ) or of the
        // sequence cut short by the end of the input (EINVAL).
        if (error != EILSEQ && error != EINVAL) {
            return ConvertStatus::kUnavailable;
        }
        if (strict) {
            return ConvertStatus::kInvalidInput;
        }
        if (!out.put(static_cast<char16_t>(kReplacementChar))) {
            return ConvertStatus::kBufferTooSmall;
        }
        ++src;
        --srcLeft;
    }
    return ConvertStatus::kOk;
}

ConvertStatus utf16ToGb(GbCodePage page, std::span<const char16_t> in, GbSubstitution& subst,
                        Output<char>& out) {
    Iconv* cd = descriptor(page, Direction::kEncode);
    if (cd == nullptr) {
        return ConvertStatus::kUnavailable;
    }
    // Scalar values are gathered in chunks and encoded together; an unpaired
    // surrogate ends its chunk and is substituted in place.
    std::size_t i = 0;
    while (i < in.size()) {
        std::array<char32_t, 256> cps;
        std::size_t count = 0;
        bool unpaired = false;
        while (i < in.size() && count < cps.size()) {
            const char16_t u = in[i];
            if (isHighSurrogate(u) && i + 1 < in.size() && isLowSurrogate(in[i + 1])) {
                cps[count++] = 0x10000 + ((char32_t{u} - 0xD800) << 10) + (in[i + 1] - 0xDC00);
                i += 2;
            } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
                unpaired = true;
                ++i;
                break;
            } else {
                cps[count++] = u;
                ++i;
            }
        }
        ConvertStatus status = encodeScalars(*cd, page, std::span(cps.data(), count), subst, out);
        if (status == ConvertStatus::kOk && unpaired) {
            status = substitute(page, subst, out);
        }
        if (status != ConvertStatus::kOk) {
            return status;
        }
    }
    return ConvertStatus::kOk;
}

}  // namespace orva::platform
