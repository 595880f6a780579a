// Text conversions through UTF-16, as the code-page calls make them.

#include "text_conversion.h"

#include <climits>
#include <new>

namespace orva::frontend {

namespace {

using Wide = std::vector<char16_t>;

// Whether the code page replaces characters it cannot hold (GBK) rather than
// holding every character (UTF-8, GB18030).
bool substitutes(UINT codePage) noexcept {
    return codePage == CP_GBK || (codePage == CP_ACP && GetACP() == CP_GBK);
}

// The text up to and with its NUL, in UTF-16; nullopt when it does not convert.
std::optional<Wide> toUtf16(const char* text, UINT codePage, const CodePageServices& services) {
    const int count = services.toWide(codePage, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (count <= 0) {
        return std::nullopt;
    }
    // One unit more than needed, zero-filled.
    Wide wide(static_cast<std::size_t>(count) + 1, u'\0');
    if (services.toWide(codePage, MB_ERR_INVALID_CHARS, text, -1, wide.data(), count) != count) {
        return std::nullopt;
    }
    return wide;
}

// The size of the UTF-16 text (NUL included) in codePage; 0 when it cannot be
// converted whole. A null destination asks for the size only.
int fromUtf16(const Wide& wide, UINT codePage, char* destination, int capacity,
              const CodePageServices& services) {
    if (substitutes(codePage)) {
        BOOL usedDefault = FALSE;
        const int size = services.fromWide(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), -1,
                                           destination, capacity, nullptr, &usedDefault);
        return usedDefault ? 0 : size;
    }
    return services.fromWide(codePage, WC_ERR_INVALID_CHARS, wide.data(), -1, destination, capacity,
                             nullptr, nullptr);
}

// The allocating form: size, then size + 1 zero-filled bytes, then the bytes.
std::optional<ConvertedText> convertAllocating(const char* text, UINT from,
                                               std::initializer_list<UINT> targets,
                                               const CodePageServices& services) noexcept {
    if (text == nullptr) {
        return std::nullopt;
    }
    try {
        const std::optional<Wide> wide = toUtf16(text, from, services);
        if (!wide) {
            return std::nullopt;
        }
        // The first target page that can take the text is used.
        for (const UINT target : targets) {
            const int size = fromUtf16(*wide, target, nullptr, 0, services);
            if (size <= 0) {
                continue;
            }
            std::vector<char> bytes(static_cast<std::size_t>(size) + 1, '\0');
            const int written = fromUtf16(*wide, target, bytes.data(), size, services);
            if (written <= 0) {
                return std::nullopt;
            }
            return ConvertedText(std::move(bytes), static_cast<std::size_t>(written));
        }
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace

const CodePageServices& platformCodePages() noexcept {
    static const CodePageServices services{&MultiByteToWideChar, &WideCharToMultiByte};
    return services;
}

std::optional<ConvertedText> utf8ToGb18030(const char* utf8,
                                           const CodePageServices& services) noexcept {
    return convertAllocating(utf8, CP_UTF8, {CP_GB18030, CP_GBK}, services);
}

std::optional<ConvertedText> utf8ToAnsi(const char* utf8,
                                        const CodePageServices& services) noexcept {
    return convertAllocating(utf8, CP_UTF8, {CP_ACP}, services);
}

std::optional<ConvertedText> ansiToUtf8(const char* ansi,
                                        const CodePageServices& services) noexcept {
    return convertAllocating(ansi, CP_ACP, {CP_UTF8}, services);
}

std::size_t utf8ToGb18030Into(const char* utf8, char* destination, std::size_t capacity,
                              const CodePageServices& services) noexcept {
    if (utf8 == nullptr) {
        return 0;
    }
    try {
        const std::optional<Wide> wide = toUtf16(utf8, CP_UTF8, services);
        if (!wide) {
            return 0;
        }
        const int size = fromUtf16(*wide, CP_GB18030, nullptr, 0, services);
        if (size <= 0) {
            return 0;
        }
        if (destination == nullptr) {
            return static_cast<std::size_t>(size);
        }
        if (capacity < static_cast<std::size_t>(size)) {
            return 0;
        }
        const int written = fromUtf16(*wide, CP_GB18030, destination, size, services);
        return written > 0 ? static_cast<std::size_t>(written) : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // namespace orva::frontend
