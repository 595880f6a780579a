// The script-like client's steps.

#include "com_call.h"

#include <charconv>
#include <cstdio>
#include <new>
#include <vector>

#include "orva/com_ptr.h"
#include "orva/unique_bstr.h"
#include "orva/unique_variant.h"
#include "win32/codepage.h"

namespace orva::tools {

namespace {

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

bool isInteger(std::string_view text, LONG* value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

bool isDecimal(std::string_view text, double* value) {
    if (text.find_first_not_of("+-0123456789.eE") != std::string_view::npos ||
        text.find_first_of("0123456789") == std::string_view::npos) {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

}  // namespace

std::u16string utf16Of(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const std::string text(utf8);
    const int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (count <= 0) {
        return {};
    }
    std::vector<char16_t> wide(static_cast<std::size_t>(count), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), count);
    return std::u16string(wide.data(), static_cast<std::size_t>(count - 1));
}

std::string utf8Of(const OLECHAR* text, std::size_t length) {
    if (text == nullptr || length == 0) {
        return {};
    }
    const std::u16string wide(text, length);
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::vector<char> bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    return std::string(bytes.data(), static_cast<std::size_t>(size - 1));
}

VARIANT scriptValue(std::string_view text) {
    VARIANT value;
    VariantInit(&value);
    LONG integer = 0;
    double number = 0;
    if (text == "undefined") {
        return value;
    }
    if (text == "null") {
        value.vt = VT_NULL;
    } else if (text == "true" || text == "false") {
        value.vt = VT_BOOL;
        value.boolVal = text == "true" ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (isInteger(text, &integer)) {
        value.vt = VT_I4;
        value.lVal = integer;
    } else if (isDecimal(text, &number)) {
        value.vt = VT_R8;
        value.dblVal = number;
    } else {
        if (text.substr(0, 4) == "str:") {
            text.remove_prefix(4);
        }
        const std::u16string wide = utf16Of(text);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (value.bstrVal == nullptr) {
            throw std::bad_alloc();
        }
    }
    return value;
}

CallOutcome callByName(std::string_view progId, std::string_view method,
                       const std::vector<std::string>& args) {
    CallOutcome outcome;
    auto fail = [&](const char* step, HRESULT hr) {
        outcome.step = step;
        outcome.hr = hr;
        return outcome;
    };
    CoInitialize(nullptr);
    const std::u16string progIdText = utf16Of(progId);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progIdText.c_str(), &clsid);
    if (FAILED(hr)) {
        return fail("CLSIDFromProgID", hr);
    }
    ComPtr<IDispatch> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.putVoid());
    if (FAILED(hr)) {
        return fail("CoCreateInstance", hr);
    }
    std::u16string name = utf16Of(method);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    hr = object->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id);
    if (FAILED(hr)) {
        return fail("GetIDsOfNames", hr);
    }
    // A script passes its arguments last first.
    UniqueVariants<std::vector<VARIANT>> values(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        values[args.size() - 1 - i] = scriptValue(args[i]);
    }
    DISPPARAMS params{values.data(), nullptr, static_cast<UINT>(args.size()), 0};
    UniqueVariant result;
    EXCEPINFO exception{};
    UINT argError = 0;
    hr = object->Invoke(id, IID_NULL, 0x409, DISPATCH_METHOD, &params, result.get(), &exception,
                        &argError);
    if (hr == DISP_E_EXCEPTION) {
        const UniqueBstr source(exception.bstrSource);
        const UniqueBstr description(exception.bstrDescription);
        const UniqueBstr helpFile(exception.bstrHelpFile);
        outcome.scode = exception.scode;
        outcome.description = utf8Of(description.get(), SysStringLen(description.get()));
    }
    if (FAILED(hr)) {
        return fail("Invoke", hr);
    }
    outcome.hr = hr;
    if (result->vt == VT_BSTR) {
        outcome.result = utf8Of(result->bstrVal, SysStringLen(result->bstrVal));
    } else if (result->vt == VT_INT || result->vt == VT_I4) {
        outcome.result = std::to_string(result->intVal);
    }
    return outcome;
}

int describeOutcome(const CallOutcome& outcome, std::string* line) {
    if (SUCCEEDED(outcome.hr)) {
        *line = outcome.result;
        return 0;
    }
    if (outcome.hr == DISP_E_EXCEPTION) {
        *line = "error " + std::to_string(outcome.scode) + " (" + hex(outcome.scode) +
                "): " + outcome.description;
        return 1;
    }
    *line = outcome.step + " failed: " + hex(outcome.hr);
    return 2;
}

}  // namespace orva::tools
