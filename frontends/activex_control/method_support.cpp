// The control's shared method steps.

#include "method_support.h"

#include "bstr_text.h"

namespace orva::control {

ControlState& controlState() noexcept {
    static ControlState state;
    return state;
}

const frontend::ApiFunctionTable* boundApi() noexcept {
    ControlState& state = controlState();
    return state.binding.ensureApiLoaded() ? &state.binding.functions() : nullptr;
}

void lookupErrorMessage(ApiErrorCode code, OLECHAR (&message)[MAX_PATH]) noexcept {
    std::fill(std::begin(message), std::end(message), u'\0');
    const char* text = resultCodeText(code);
    // The texts are ASCII.
    for (std::size_t i = 0; text[i] != '\0' && i + 1 < MAX_PATH; ++i) {
        message[i] = static_cast<OLECHAR>(static_cast<unsigned char>(text[i]));
    }
}

HRESULT reportError(ApiErrorCode code) noexcept {
    // 0 is success and 1 (nothing deleted) a success too: no error information.
    if (code >= kSuccess) {
        return code;
    }
    OLECHAR message[MAX_PATH];
    lookupErrorMessage(code, message);
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create != nullptr) {
        create->SetDescription(message);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return code;
}

ApiErrorCode startTextMethod(BSTR* result, const frontend::ApiFunctionTable** api) {
    if (result == nullptr) {
        return kInvalidParameter;
    }
    *result = SysAllocString(u"");
    if (*result == nullptr) {
        return kMallocFailed;
    }
    *api = boundApi();
    return *api != nullptr ? kSuccess : kDriverNotInstalled;
}

ApiErrorCode storeText(BSTR* result, const char* text, OutputText encoding) {
    BSTR converted = encoding == OutputText::utf8 ? utf8ToBstr(text) : ansiToBstr(text);
    if (converted == nullptr) {
        return kMallocFailed;
    }
    SysFreeString(*result);
    *result = converted;
    return kSuccess;
}

}  // namespace orva::control
