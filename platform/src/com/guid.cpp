// GUIDs as registry text: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "orva/com_registration.h"
#include "orva/hex.h"
#include "win32/com.h"

namespace orva::platform {

constexpr std::size_t kGuidTextLength = 38;

void formatGuid(const GUID& guid, char (&text)[kGuidTextLength + 1]) noexcept {
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

std::string guidText(const GUID& guid) {
    char text[kGuidTextLength + 1];
    formatGuid(guid, text);
    return text;
}

std::optional<GUID> guidFromText(std::string_view text) noexcept {
    if (text.size() != kGuidTextLength || text.front() != '{' || text.back() != '}') {
        return std::nullopt;
    }
    // The hex digits in order, the dashes where they belong.
    uint8_t bytes[16];
    std::size_t count = 0;
    for (std::size_t i = 1; i + 1 < text.size();) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0 || count == sizeof bytes) {
            return std::nullopt;
        }
        bytes[count++] = static_cast<uint8_t>(high * 16 + low);
        i += 2;
    }
    if (count != sizeof bytes) {
        return std::nullopt;
    }
    GUID guid{};
    guid.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                 (uint32_t{bytes[2]} << 8) | bytes[3];
    guid.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) {
        guid.Data4[i] = bytes[8 + i];
    }
    return guid;
}

}  // namespace orva::platform

ORVA_API_ENTRY int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    char text[orva::platform::kGuidTextLength + 1];
    orva::platform::formatGuid(rguid, text);
    constexpr int kCount = static_cast<int>(sizeof text);
    if (lpsz == nullptr || cchMax < kCount) {
        return 0;
    }
    for (int i = 0; i < kCount; ++i) {
        lpsz[i] = static_cast<OLECHAR>(text[i]);
    }
    return kCount;
}

ORVA_API_ENTRY HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
    constexpr std::size_t kTextRoom = 40;
    if (lpsz == nullptr || pclsid == nullptr) {
        return E_INVALIDARG;
    }
    char narrow[kTextRoom];
    std::size_t length = 0;
    for (; lpsz[length] != u'\0'; ++length) {
        if (lpsz[length] > 0x7F || length + 1 == kTextRoom) {
            return CO_E_CLASSSTRING;
        }
        narrow[length] = static_cast<char>(lpsz[length]);
    }
    const std::optional<GUID> guid = orva::platform::guidFromText(std::string_view(narrow, length));
    if (!guid) {
        return CO_E_CLASSSTRING;
    }
    *pclsid = *guid;
    return S_OK;
}
