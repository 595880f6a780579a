// Input: byte 0 picks the code page (bits 0-1: UTF-8, GBK, GB18030) and
// strictness (bit 2); the rest is converted both ways: as bytes to UTF-16, and
// as UTF-16 units (little-endian pairs) to bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "win32/codepage.h"
#include "win32/errors.h"

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The size a query gives is the count a conversion into exactly that room
// writes, and one unit less is too small.
template <class Unit, class Convert>
std::vector<Unit> convert(Convert&& into) {
    const int size = into(static_cast<Unit*>(nullptr), 0);
    if (size == 0) {
        return {};
    }
    std::vector<Unit> out(static_cast<std::size_t>(size));
    check(into(out.data(), size) == size);
    if (size > 1) {
        std::vector<Unit> shorter(static_cast<std::size_t>(size - 1));
        check(into(shorter.data(), size - 1) == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > (1u << 16)) {
        return 0;
    }
    static constexpr UINT kPages[] = {CP_UTF8, CP_GBK, CP_GB18030, CP_UTF8};
    const UINT page = kPages[data[0] & 3];
    const bool strict = (data[0] & 4) != 0;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const int byteCount = static_cast<int>(size - 1);

    // Bytes to UTF-16; a strict decode of UTF-8 or GB18030 encodes back to the
    // same bytes.
    const DWORD decodeFlags = strict ? MB_ERR_INVALID_CHARS : 0;
    const std::vector<WCHAR> wide = convert<WCHAR>([&](WCHAR* out, int room) {
        return MultiByteToWideChar(page, decodeFlags, bytes, byteCount, out, room);
    });
    if (strict && !wide.empty() && page != CP_GBK) {
        const std::vector<char> back = convert<char>([&](char* out, int room) {
            return WideCharToMultiByte(page, WC_ERR_INVALID_CHARS, wide.data(),
                                       static_cast<int>(wide.size()), out, room, nullptr, nullptr);
        });
        check(back.size() == static_cast<std::size_t>(byteCount) &&
              std::memcmp(back.data(), bytes, back.size()) == 0);
    }

    // UTF-16 to bytes; a strict encode as UTF-8 or GB18030 decodes back to the
    // same units.
    std::vector<WCHAR> units((size - 1) / 2);
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<WCHAR>(data[1 + 2 * i] | data[2 + 2 * i] << 8);
    }
    if (units.empty()) {
        return 0;
    }
    const DWORD encodeFlags = strict && page != CP_GBK ? WC_ERR_INVALID_CHARS : 0;
    BOOL usedDefault = FALSE;
    BOOL* used = page == CP_GBK ? &usedDefault : nullptr;
    const std::vector<char> narrow = convert<char>([&](char* out, int room) {
        return WideCharToMultiByte(page, encodeFlags, units.data(), static_cast<int>(units.size()),
                                   out, room, nullptr, used);
    });
    if (strict && !narrow.empty() && page != CP_GBK) {
        const std::vector<WCHAR> back = convert<WCHAR>([&](WCHAR* out, int room) {
            return MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, narrow.data(),
                                       static_cast<int>(narrow.size()), out, room);
        });
        check(back == units);
    }
    return 0;
}
