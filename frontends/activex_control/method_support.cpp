// The control's shared method steps.

#include "method_support.h"

#include <utility>

#include "bstr_text.h"
#include "orva/com_ptr.h"
#include "orva/unique_bstr.h"

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
        return code.number();
    }
    OLECHAR message[MAX_PATH];
    lookupErrorMessage(code, message);
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put())) && create) {
        create->SetDescription(message);
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.putVoid()))) {
            SetErrorInfo(0, info.get());
        }
    }
    return code.number();
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
    // The text the method started with is replaced.
    const UniqueBstr started(std::exchange(*result, converted));
    return kSuccess;
}

}  // namespace orva::control
