// VARIANTs and the coercions the dispatch layer makes of a script's
// arguments: to text (VT_BSTR) and to 32-bit integers (VT_I4, VT_INT), from
// every scalar type a script host sends.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>

#include "win32/com.h"

namespace {

// The bytes a by-reference value of this type takes; 0 for types not followed.
std::size_t referencedSize(VARTYPE base) noexcept {
    switch (base) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:  // the pointer: borrowed, not owned
            return 8;
        default:
            return 0;
    }
}

// The value a VARIANT holds, one level of VT_BYREF (or VT_VARIANT) followed.
const VARIANT* dereferenced(const VARIANT* source, VARIANT& scratch) noexcept {
    if ((source->vt & VT_BYREF) == 0) {
        return source;
    }
    const auto base = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
    if (source->byref == nullptr) {
        return nullptr;
    }
    if (base == VT_VARIANT) {
        return (source->pvarVal->vt & VT_BYREF) != 0 ? nullptr : source->pvarVal;
    }
    const std::size_t size = referencedSize(base);
    if (size == 0) {
        return nullptr;
    }
    // Every member of the value starts at the same place.
    std::memset(&scratch, 0, sizeof scratch);
    scratch.vt = base;
    std::memcpy(&scratch.byref, source->byref, size);
    return &scratch;
}

// A double rounded half to even, as automation rounds; nullopt beyond INT.
std::optional<INT> roundedToInt(double value) noexcept {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double rounded = std::nearbyint(value);  // default mode: half to even
    if (rounded < static_cast<double>(std::numeric_limits<INT>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<INT>::max())) {
        return std::nullopt;
    }
    return static_cast<INT>(rounded);
}

std::optional<INT> narrowedToInt(int64_t value) noexcept {
    if (value < std::numeric_limits<INT>::min() || value > std::numeric_limits<INT>::max()) {
        return std::nullopt;
    }
    return static_cast<INT>(value);
}

// Currency (ten-thousandths) rounded half to even, as doubles are.
std::optional<INT> currencyToInt(int64_t units) noexcept {
    int64_t whole = units / 10000;  // toward zero; the rest keeps the sign
    const int64_t rest = units % 10000;
    const int64_t half = rest < 0 ? -rest : rest;
    if (half > 5000 || (half == 5000 && whole % 2 != 0)) {
        whole += rest < 0 ? -1 : 1;
    }
    return narrowedToInt(whole);
}

// The value of a VARIANT of a signed or 32-bit-or-less integer type.
std::optional<int64_t> integerOf(const VARIANT& source) noexcept {
    switch (source.vt) {
        case VT_I1:
            return static_cast<signed char>(source.cVal);
        case VT_UI1:
            return source.bVal;
        case VT_I2:
            return source.iVal;
        case VT_UI2:
            return source.uiVal;
        case VT_I4:
            return source.lVal;
        case VT_UI4:
            return source.ulVal;
        case VT_INT:
            return source.intVal;
        case VT_UINT:
            return source.uintVal;
        case VT_I8:
            return source.llVal;
        default:
            return std::nullopt;
    }
}

// Decimal text (spaces around it allowed) to INT.
HRESULT intFromText(BSTR text, INT* result) {
    std::string ascii;
    for (UINT i = 0; i < SysStringLen(text); ++i) {
        if (text[i] > 0x7F) {
            return DISP_E_TYPEMISMATCH;
        }
        ascii += static_cast<char>(text[i]);
    }
    const std::size_t first = ascii.find_first_not_of(" \t");
    const std::size_t last = ascii.find_last_not_of(" \t");
    if (first == std::string::npos) {
        return DISP_E_TYPEMISMATCH;
    }
    ascii = ascii.substr(first, last - first + 1);
    // Digits with an optional sign, fraction and exponent (the form a double's
    // own text takes, "1e-05"); strtod alone would take hex and "inf".
    const auto isDigit = [&](std::size_t at) {
        return at < ascii.size() && ascii[at] >= '0' && ascii[at] <= '9';
    };
    std::size_t i = (ascii[0] == '+' || ascii[0] == '-') ? 1 : 0;
    std::size_t digits = 0;
    for (; isDigit(i); ++i) {
        ++digits;
    }
    if (i < ascii.size() && ascii[i] == '.') {
        for (++i; isDigit(i); ++i) {
            ++digits;
        }
    }
    if (digits > 0 && i < ascii.size() && (ascii[i] == 'e' || ascii[i] == 'E')) {
        std::size_t at = i + 1;
        if (at < ascii.size() && (ascii[at] == '+' || ascii[at] == '-')) {
            ++at;
        }
        if (isDigit(at)) {
            for (i = at; isDigit(i); ++i) {
            }
        }
    }
    if (digits == 0 || i != ascii.size()) {
        return DISP_E_TYPEMISMATCH;
    }
    errno = 0;
    const double value = std::strtod(ascii.c_str(), nullptr);
    const std::optional<INT> rounded = roundedToInt(value);
    if (!rounded) {
        return DISP_E_OVERFLOW;
    }
    *result = *rounded;
    return S_OK;
}

HRESULT toInt(const VARIANT& source, INT* result) {
    std::optional<INT> value;
    if (const std::optional<int64_t> integer = integerOf(source)) {
        value = narrowedToInt(*integer);
    } else {
        switch (source.vt) {
            case VT_EMPTY:
                value = 0;
                break;
            case VT_BOOL:
                value = source.boolVal != VARIANT_FALSE ? -1 : 0;
                break;
            case VT_UI8:
                value = source.ullVal > static_cast<uint64_t>(std::numeric_limits<INT>::max())
                            ? std::nullopt
                            : std::optional<INT>(static_cast<INT>(source.ullVal));
                break;
            case VT_R4:
                value = roundedToInt(source.fltVal);
                break;
            case VT_R8:
                value = roundedToInt(source.dblVal);
                break;
            case VT_DATE:
                value = roundedToInt(source.date);
                break;
            case VT_CY:
                value = currencyToInt(source.cyVal.int64);
                break;
            case VT_BSTR:
                return intFromText(source.bstrVal, result);
            default:
                return DISP_E_TYPEMISMATCH;
        }
    }
    if (!value) {
        return DISP_E_OVERFLOW;
    }
    *result = *value;
    return S_OK;
}

// The shortest text (in the form of %g) that reads back as the same value.
template <class Real>
std::string shortestText(Real value) {
    char buffer[32];
    for (int precision = std::numeric_limits<Real>::digits10;
         precision <= std::numeric_limits<Real>::max_digits10; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, static_cast<double>(value));
        const Real back = std::is_same_v<Real, float> ? std::strtof(buffer, nullptr)
                                                      : std::strtod(buffer, nullptr);
        if (back == value) {
            break;
        }
    }
    return buffer;
}

// Currency as decimal text: up to four fraction digits, no trailing zeros.
std::string currencyText(int64_t units) {
    const bool negative = units < 0;
    const uint64_t magnitude =
        negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
    std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
    if (const uint64_t fraction = magnitude % 10000; fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, 4 - digits.size(), '0');
        text += "." + digits.substr(0, digits.find_last_not_of('0') + 1);
    }
    return text;
}

BSTR bstrFromAscii(const std::string& text) {
    std::u16string wide(text.begin(), text.end());
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

HRESULT toBstr(const VARIANT& source, BSTR* result) {
    std::string text;
    if (const std::optional<int64_t> integer = integerOf(source)) {
        text = std::to_string(*integer);
    } else {
        switch (source.vt) {
            case VT_EMPTY:
                // Unset script arguments read as the null BSTR, the empty text.
                *result = nullptr;
                return S_OK;
            case VT_BSTR:
                if (source.bstrVal == nullptr) {
                    *result = nullptr;
                    return S_OK;
                }
                // Every byte, an odd last one too.
                *result = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source.bstrVal),
                                                SysStringByteLen(source.bstrVal));
                return *result != nullptr ? S_OK : E_OUTOFMEMORY;
            case VT_BOOL:
                text = source.boolVal != VARIANT_FALSE ? "True" : "False";
                break;
            case VT_UI8:
                text = std::to_string(source.ullVal);
                break;
            case VT_R4:
                text = shortestText(source.fltVal);
                break;
            case VT_R8:
                text = shortestText(source.dblVal);
                break;
            case VT_CY:
                text = currencyText(source.cyVal.int64);
                break;
            case VT_DATE:
                // Automation writes a date in the user's locale, so any text of
                // ours could differ from what the page meant; no method takes a
                // date, so it is refused rather than guessed.
            default:
                return DISP_E_TYPEMISMATCH;
        }
    }
    *result = bstrFromAscii(text);
    return *result != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

ORVA_API_ENTRY void VariantInit(VARIANT* pvarg) {
    if (pvarg != nullptr) {
        *pvarg = VARIANT{};
        pvarg->vt = VT_EMPTY;
    }
}

ORVA_API_ENTRY HRESULT VariantClear(VARIANT* pvarg) {
    if (pvarg == nullptr) {
        return E_INVALIDARG;
    }
    switch (pvarg->vt) {
        case VT_BSTR:
            SysFreeString(pvarg->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (pvarg->punkVal != nullptr) {
                pvarg->punkVal->Release();
            }
            break;
        default:
            break;
    }
    VariantInit(pvarg);
    return S_OK;
}

ORVA_API_ENTRY HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc,
                                         USHORT /*wFlags*/, VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr) {
        return E_INVALIDARG;
    }
    VARIANT scratch;
    const VARIANT* source = dereferenced(pvarSrc, scratch);
    if (source == nullptr) {
        return DISP_E_BADVARTYPE;
    }
    VARIANT result{};
    result.vt = vt;
    HRESULT hr = DISP_E_TYPEMISMATCH;
    try {
        if (vt == VT_BSTR) {
            hr = toBstr(*source, &result.bstrVal);
        } else if (vt == VT_I4 || vt == VT_INT) {
            hr = toInt(*source, &result.intVal);
        }
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        return hr;
    }
    // Destination and source may be the same VARIANT.
    VariantClear(pvargDest);
    *pvargDest = result;
    return S_OK;
}
