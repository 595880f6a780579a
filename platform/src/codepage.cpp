// MultiByteToWideChar, WideCharToMultiByte and GetACP for UTF-8, GBK and
// GB18030: argument checks, code-page dispatch and the Windows error codes.

#include "win32/codepage.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "codepage_gb.h"
#include "codepage_output.h"
#include "codepage_utf8.h"
#include "win32/errors.h"

namespace {

using orva::platform::ConvertStatus;
using orva::platform::GbCodePage;
using orva::platform::GbSubstitution;
using orva::platform::Output;

enum class Page { kUtf8, kGbk, kGb18030 };

std::optional<Page> pageOf(UINT codePage) {
    switch (codePage) {
        case CP_UTF8:
            return Page::kUtf8;
        case CP_GBK:
            return Page::kGbk;
        case CP_GB18030:
            return Page::kGb18030;
        default:
            return std::nullopt;
    }
}

// $ORVA_ACP, read on every call so a test or tool can change it at run time.
UINT ansiCodePage() noexcept {
    const char* value = std::getenv("ORVA_ACP");
    if (value == nullptr) {
        return CP_UTF8;
    }
    const std::string_view text(value);
    UINT number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc{} || end != text.data() + text.size() || !pageOf(number)) {
        return CP_UTF8;
    }
    return number;
}

std::optional<Page> resolve(UINT codePage) {
    return pageOf(codePage == CP_ACP ? ansiCodePage() : codePage);
}

int fail(DWORD error) {
    SetLastError(error);
    return 0;
}

int finish(ConvertStatus status, std::size_t count) {
    switch (status) {
        case ConvertStatus::kOk:
            return static_cast<int>(count);
        case ConvertStatus::kInvalidInput:
            return fail(ERROR_NO_UNICODE_TRANSLATION);
        case ConvertStatus::kBufferTooSmall:
            return fail(ERROR_INSUFFICIENT_BUFFER);
        case ConvertStatus::kUnavailable:
            break;
    }
    // A code page the system cannot convert is one Windows does not know.
    return fail(ERROR_INVALID_PARAMETER);
}

// Whether two byte ranges share any byte (converting in place is refused).
bool overlaps(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes) {
    const std::less<const void*> before;
    const auto* aBegin = static_cast<const unsigned char*>(a);
    const auto* bBegin = static_cast<const unsigned char*>(b);
    return before(aBegin, bBegin + bBytes) && before(bBegin, aBegin + aBytes);
}

int multiByteToWideChar(UINT codePage, DWORD flags, LPCSTR input, int inputBytes, LPWSTR output,
                        int outputUnits) {
    if (input == nullptr || inputBytes == 0 || inputBytes < -1 || outputUnits < 0 ||
        (outputUnits > 0 && output == nullptr)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::optional<Page> page = resolve(codePage);
    if (!page) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if ((flags & ~MB_ERR_INVALID_CHARS) != 0) {
        return fail(ERROR_INVALID_FLAGS);
    }

    // -1: up to the NUL, which is converted and counted like any character.
    const std::size_t length =
        inputBytes == -1 ? std::strlen(input) + 1 : static_cast<std::size_t>(inputBytes);
    const std::size_t capacity = static_cast<std::size_t>(outputUnits);
    if (capacity > 0 && overlaps(input, length, output, capacity * sizeof(WCHAR))) {
        return fail(ERROR_INVALID_PARAMETER);
    }

    const std::span bytes(reinterpret_cast<const std::uint8_t*>(input), length);
    const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    // A size query ignores the output pointer.
    Output<char16_t> out(capacity > 0 ? output : nullptr, capacity);
    const ConvertStatus status =
        *page == Page::kUtf8 ? orva::platform::utf8ToUtf16(bytes, strict, out)
                             : orva::platform::gbToUtf16(
                                   *page == Page::kGbk ? GbCodePage::kGbk : GbCodePage::kGb18030,
                                   bytes, strict, out);
    return finish(status, out.count());
}

int wideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR input, int inputUnits, LPSTR output,
                        int outputBytes, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (input == nullptr || inputUnits == 0 || inputUnits < -1 || outputBytes < 0 ||
        (outputBytes > 0 && output == nullptr)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::optional<Page> page = resolve(codePage);
    if (!page) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // UTF-8 and GB18030 carry every character, so they take no default char;
    // only they can be asked to fail on unpaired surrogates. GBK has no best-fit
    // mappings here, so WC_NO_BEST_FIT_CHARS changes nothing.
    if (*page == Page::kGbk) {
        if ((flags & ~WC_NO_BEST_FIT_CHARS) != 0) {
            return fail(ERROR_INVALID_FLAGS);
        }
    } else {
        if (defaultChar != nullptr || usedDefaultChar != nullptr) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
            return fail(ERROR_INVALID_FLAGS);
        }
    }

    const std::size_t length = inputUnits == -1 ? std::char_traits<char16_t>::length(input) + 1
                                                : static_cast<std::size_t>(inputUnits);
    const std::size_t capacity = static_cast<std::size_t>(outputBytes);
    if (capacity > 0 && overlaps(input, length * sizeof(WCHAR), output, capacity)) {
        return fail(ERROR_INVALID_PARAMETER);
    }

    const std::span<const char16_t> units(input, length);
    const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
    Output<char> out(capacity > 0 ? output : nullptr, capacity);
    if (*page == Page::kUtf8) {
        const ConvertStatus status = orva::platform::utf16ToUtf8(units, strict, out);
        return finish(status, out.count());
    }

    GbSubstitution subst;
    subst.strict = strict;
    if (defaultChar != nullptr) {
        subst.defaultChar = defaultChar[0];
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = FALSE;
    }
    const ConvertStatus status = orva::platform::utf16ToGb(
        *page == Page::kGbk ? GbCodePage::kGbk : GbCodePage::kGb18030, units, subst, out);
    if (usedDefaultChar != nullptr && subst.usedDefault) {
        *usedDefaultChar = TRUE;
    }
    return finish(status, out.count());
}

}  // namespace

ORVA_API_ENTRY int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                       int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    try {
        return multiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr,
                                   cchWideChar);
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        return fail(ERROR_INVALID_PARAMETER);
    }
}

ORVA_API_ENTRY int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                       int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                       LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    try {
        return wideCharToMultiByte(CodePage, dwFlags, lpWideCharStr, cchWideChar, lpMultiByteStr,
                                   cbMultiByte, lpDefaultChar, lpUsedDefaultChar);
    } catch (const std::bad_alloc&) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        return fail(ERROR_INVALID_PARAMETER);
    }
}

ORVA_API_ENTRY UINT GetACP(void) {
    return ansiCodePage();
}
