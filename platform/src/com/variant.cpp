// VARIANTs and the coercions the dispatch layer makes of a script's
// arguments: to text (VT_BSTR) and to 32-bit integers (VT_I4, VT_INT).

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "win32/com.h"

namespace {

// The value a VARIANT holds, one level of VT_BYREF (or VT_VARIANT) followed.
const VARIANT* dereferenced(const VARIANT* source, VARIANT& scratch) noexcept {
    if ((source->vt & VT_BYREF) == 0) {
        return source;
    }
    const auto base = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
    if (source->plVal == nullptr) {
        return nullptr;
    }
    scratch = VARIANT{};
    scratch.vt = base;
    switch (base) {
        case VT_VARIANT:
            return (source->pvarVal->vt & VT_BYREF) != 0 ? nullptr : source->pvarVal;
        case VT_I2:
            scratch.iVal = *source->piVal;
            return &scratch;
        case VT_I4:
            scratch.lVal = *source->plVal;
            return &scratch;
        case VT_INT:
            scratch.intVal = *source->pintVal;
            return &scratch;
        case VT_R8:
            scratch.dblVal = *source->pdblVal;
            return &scratch;
        case VT_BOOL:
            scratch.boolVal = *source->pboolVal;
            return &scratch;
        case VT_BSTR:
            scratch.bstrVal = *source->pbstrVal;  // borrowed, not owned
            return &scratch;
        default:
            return nullptr;
    }
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
    switch (source.vt) {
        case VT_EMPTY:
            *result = 0;
            return S_OK;
        case VT_I2:
            *result = source.iVal;
            return S_OK;
        case VT_I4:
            *result = source.lVal;
            return S_OK;
        case VT_INT:
            *result = source.intVal;
            return S_OK;
        case VT_BOOL:
            *result = source.boolVal != VARIANT_FALSE ? -1 : 0;
            return S_OK;
        case VT_R8: {
            const std::optional<INT> rounded = roundedToInt(source.dblVal);
            if (!rounded) {
                return DISP_E_OVERFLOW;
            }
            *result = *rounded;
            return S_OK;
        }
        case VT_BSTR:
            return intFromText(source.bstrVal, result);
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

BSTR bstrFromAscii(const std::string& text) {
    std::u16string wide(text.begin(), text.end());
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

HRESULT toBstr(const VARIANT& source, BSTR* result) {
    std::string text;
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
        case VT_I2:
            text = std::to_string(source.iVal);
            break;
        case VT_I4:
            text = std::to_string(source.lVal);
            break;
        case VT_INT:
            text = std::to_string(source.intVal);
            break;
        case VT_BOOL:
            text = source.boolVal != VARIANT_FALSE ? "True" : "False";
            break;
        case VT_R8: {
            // The shortest text that reads back as the same double.
            char buffer[32];
            for (int precision = 15; precision <= 17; ++precision) {
                std::snprintf(buffer, sizeof buffer, "%.*g", precision, source.dblVal);
                if (std::strtod(buffer, nullptr) == source.dblVal) {
                    break;
                }
            }
            text = buffer;
            break;
        }
        default:
            return DISP_E_TYPEMISMATCH;
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
