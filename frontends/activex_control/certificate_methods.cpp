// Certificate, public-key, request, installation and deletion methods.

#include <climits>

#include "bstr_text.h"
#include "method_support.h"
#include "orva_usbkey.h"

namespace orva::control {

namespace {

constexpr std::size_t kDnText = 2080;
constexpr std::size_t kKeyText = 8192;
constexpr std::size_t kPkcsText = 32768;

}  // namespace

HRESULT OrvaUsbKey::GMGetCertDN(BSTR* pbstrCertDN) {
    return runTextMethod(pbstrCertDN, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrCertDN, kDnText, OutputText::utf8, api.GMGetCertDN);
    });
}

HRESULT OrvaUsbKey::GMGetPublicKey(BSTR bstrReadType, BSTR* pbstrPubInfo) {
    return runTextMethod(pbstrPubInfo, [&](const frontend::ApiFunctionTable& api) {
        const ExportText readType = bstrToAnsi(bstrReadType);
        if (readType.isNull()) {
            return kInvalidParameter;
        }
        return textExport(pbstrPubInfo, kKeyText, OutputText::ansi, [&](char* buffer, int* n) {
            return api.GMGetPubkeyInfo(readType.get(), buffer, n);
        });
    });
}

HRESULT OrvaUsbKey::GMGetPublicKeyC(BSTR bstrKeyType, BSTR bstrDnOrID, BSTR bstrBase64SerRand,
                                    BSTR* pbstrPubInfo) {
    return runTextMethod(pbstrPubInfo, [&](const frontend::ApiFunctionTable& api) {
        const ExportText keyType = bstrToAnsi(bstrKeyType);
        // Names are compared with the certificates' UTF-8 subjects, as in
        // GMDelTempKey; key ids are digits, the same in either.
        const ExportText dnOrId = bstrToCharset(bstrDnOrID, "UTF-8");
        const ExportText serverRandom = bstrToAnsi(bstrBase64SerRand);
        if (keyType.isNull() || dnOrId.isNull() || serverRandom.isNull()) {
            return kInvalidParameter;
        }
        return textExport(pbstrPubInfo, kKeyText, OutputText::ansi, [&](char* buffer, int* n) {
            return api.GMGetPubkeyInfoC(keyType.get(), dnOrId.get(), serverRandom.get(), buffer, n);
        });
    });
}

HRESULT OrvaUsbKey::GetPublicKeyC(BSTR* pbstrPubInfo) {
    return runTextMethod(pbstrPubInfo, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrPubInfo, kKeyText, OutputText::ansi, api.GetPublicKeyC);
    });
}

HRESULT OrvaUsbKey::GMGetAdminKeyInfo(BSTR* pbstrAdminKeyInfo) {
    return runTextMethod(pbstrAdminKeyInfo, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrAdminKeyInfo, kKeyText, OutputText::ansi, api.GMGetAdminKeyInfo);
    });
}

HRESULT OrvaUsbKey::GMDelTempKey(BSTR bstrCertDn, BSTR bstrPublicKeyId, INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, kNoDevice, [&](const frontend::ApiFunctionTable& api) {
        // The names are compared with certificate subjects, which the library
        // reads as UTF-8: the list goes in UTF-8, so names beyond ASCII match.
        const ExportText dnList = bstrToCharset(bstrCertDn, "UTF-8");
        const ExportText keyIds = bstrToAnsi(bstrPublicKeyId);
        if ((dnList.isNull() && keyIds.isNull()) || dnList.length() > INT_MAX) {
            return kInvalidParameter;
        }
        return ApiErrorCode{
            api.GMDelTempKey(dnList.get(), static_cast<int>(dnList.length()), keyIds.get())};
    });
}

HRESULT OrvaUsbKey::GMCreatePKCS10(BSTR bstrCertReq, BSTR* pstrPkcs10) {
    return runTextMethod(pstrPkcs10, [&](const frontend::ApiFunctionTable& api) {
        const ExportText request = bstrToCharset(bstrCertReq, "UTF-8");
        if (request.isNull()) {
            return kInvalidParameter;
        }
        return textExport(pstrPkcs10, kPkcsText, OutputText::utf8, [&](char* buffer, int* n) {
            return api.GMCreatePKCS10(request.get(), buffer, n);
        });
    });
}

HRESULT OrvaUsbKey::GMWritePKCS7(BSTR bstrP7Cert, INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [&](const frontend::ApiFunctionTable& api) {
        const ExportText certificate = bstrToAnsi(bstrP7Cert);
        if (certificate.isEmpty()) {
            return kInvalidParameter;
        }
        return ApiErrorCode{api.GMWritePKCS7_Enc(certificate.get(), nullptr, nullptr)};
    });
}

HRESULT OrvaUsbKey::GMWritePKCS7_Enc(BSTR bstrSignP7, BSTR bstrEncData, BSTR bstrSvrRand,
                                     INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [&](const frontend::ApiFunctionTable& api) {
        const ExportText certificate = bstrToAnsi(bstrSignP7);
        const ExportText encrypted = bstrToAnsi(bstrEncData);
        const ExportText serverRandom = bstrToAnsi(bstrSvrRand);
        if (certificate.isNull() && encrypted.isNull()) {
            return kInvalidParameter;
        }
        return ApiErrorCode{
            api.GMWritePKCS7_Enc(certificate.get(), encrypted.get(), serverRandom.get())};
    });
}

HRESULT OrvaUsbKey::GMGetPKCS7(BSTR* pbstrPkcs7) {
    return runTextMethod(pbstrPkcs7, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrPkcs7, kPkcsText, OutputText::ansi, api.GMGetPKCS7);
    });
}

HRESULT OrvaUsbKey::GMJudgeAndDelOlderDN(INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [](const frontend::ApiFunctionTable& api) {
        int unused = 0;
        return ApiErrorCode{api.GMJudgeAndDelOlderDN(&unused)};
    });
}

HRESULT OrvaUsbKey::GetPublicKeyNum(INT* pnPubCount) {
    return runMethod([&]() -> ApiErrorCode {
        if (pnPubCount == nullptr) {
            return kInvalidParameter;
        }
        *pnPubCount = 0;
        const frontend::ApiFunctionTable* api = boundApi();
        return api != nullptr ? ApiErrorCode{api->GetPublicKeyNum(pnPubCount)}
                              : kDriverNotInstalled;
    });
}

HRESULT OrvaUsbKey::RegisterCert(INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [](const frontend::ApiFunctionTable& api) {
        return ApiErrorCode{api.RegisterCert()};
    });
}

HRESULT OrvaUsbKey::UnRegisterCert(INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [](const frontend::ApiFunctionTable& api) {
        return ApiErrorCode{api.UnRegisterCert()};
    });
}

}  // namespace orva::control
