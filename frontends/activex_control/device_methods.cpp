// Device, settings and version methods.

#include <array>

#include "bstr_text.h"
#include "file_version.h"
#include "framework/com_module.h"
#include "method_support.h"
#include "orva_usbkey.h"
#include "win32/module.h"

namespace orva::control {

namespace {

constexpr std::size_t kSmallText = 260;

}  // namespace

HRESULT OrvaUsbKey::GetMediaID(BSTR* pbstrDevSN) {
    return runTextMethod(pbstrDevSN, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrDevSN, kSmallText, OutputText::ansi, api.GetDevSN);
    });
}

HRESULT OrvaUsbKey::GetDriverVersion(BSTR* pbstrVersion) {
    return runTextMethod(pbstrVersion, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrVersion, kSmallText, OutputText::ansi, api.GetDriverVer);
    });
}

HRESULT OrvaUsbKey::GetVersion(BSTR* pbstrCtrlVersion) {
    // The control's own file version; the library is not needed.
    return runMethod([&]() -> ApiErrorCode {
        if (pbstrCtrlVersion == nullptr) {
            return kInvalidParameter;
        }
        *pbstrCtrlVersion = SysAllocString(u"");
        if (*pbstrCtrlVersion == nullptr) {
            return kMallocFailed;
        }
        std::array<char, MAX_PATH> file{};
        const HMODULE self = com::comModule().instance();
        const DWORD length = self != nullptr ? GetModuleFileNameA(self, file.data(), MAX_PATH) : 0;
        if (length == 0 || length >= MAX_PATH) {
            return kDriverNotInstalled;
        }
        const std::string version = fileVersionText(file.data());
        if (version.empty()) {
            return kDriverNotInstalled;
        }
        return storeText(pbstrCtrlVersion, version.c_str(), OutputText::ansi);
    });
}

HRESULT OrvaUsbKey::CustInitCard(INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [](const frontend::ApiFunctionTable& api) {
        return ApiErrorCode{api.CustInitCard(nullptr, 0)};
    });
}

HRESULT OrvaUsbKey::ChangePin(INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [](const frontend::ApiFunctionTable& api) {
        return ApiErrorCode{api.ChangePIN(nullptr, 0, nullptr, 0)};
    });
}

HRESULT OrvaUsbKey::GetCharsetList(BSTR* pbstrCharSetList) {
    return runTextMethod(pbstrCharSetList, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrCharSetList, kSmallText, OutputText::ansi, api.GetCharset);
    });
}

HRESULT OrvaUsbKey::SetCharset(BSTR bstrCharSet, INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, kInvalidParameter, [&](const frontend::ApiFunctionTable& api) {
        const ExportText name = bstrToAnsi(bstrCharSet);
        if (name.isNull()) {
            return kInvalidParameter;
        }
        const ApiErrorCode code{api.SetCharset(name.get())};
        // A name too long for the store was not one the library takes.
        if (code == kSuccess && !controlState().charset.store(name.get())) {
            return kInvalidParameter;
        }
        return code;
    });
}

HRESULT OrvaUsbKey::GetLanguageList(BSTR* pbstrLanguageList) {
    return runTextMethod(pbstrLanguageList, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrLanguageList, kSmallText, OutputText::utf8, api.GetDevLanguageList);
    });
}

HRESULT OrvaUsbKey::SetLanguage(BSTR bstrLanguage, INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [&](const frontend::ApiFunctionTable& api) {
        const ExportText name = bstrToAnsi(bstrLanguage);
        return name.isNull() ? kInvalidParameter : ApiErrorCode{api.SetDevLanguage(name.get())};
    });
}

HRESULT OrvaUsbKey::SetWarningMsg(BSTR bstrTips, INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [&](const frontend::ApiFunctionTable& api) {
        const ExportText tips = bstrToCharset(bstrTips, "UTF-8");
        return ApiErrorCode{api.SetWarningTips(tips.isNull() ? "" : tips.get())};
    });
}

HRESULT OrvaUsbKey::GMGetTemKey(BSTR* pbstrTemKey) {
    return runTextMethod(pbstrTemKey, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrTemKey, kSmallText, OutputText::ansi, api.GMGetTemKey);
    });
}

HRESULT OrvaUsbKey::GMBankEncGetRand(BSTR* pbstrRand) {
    return runTextMethod(pbstrRand, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrRand, kSmallText, OutputText::ansi, api.GMBankGetRand);
    });
}

HRESULT OrvaUsbKey::GetCSPInfo(BSTR /*bstrDevSN*/, BSTR* pstrCSPName) {
    return runTextMethod(pstrCSPName, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pstrCSPName, kSmallText, OutputText::ansi, api.GetCSPInfo);
    });
}

}  // namespace orva::control
