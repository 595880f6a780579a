#pragma once

// The control object: Iorva_usbkey and IDispatch on one vtable, no state.

#include <array>

#include "framework/dispatch_table.h"
#include "usbkey_interface.h"

namespace orva::control {

extern const com::InterfaceDescription kUsbKeyInterface;

class OrvaUsbKey : public com::DispatchImpl<Iorva_usbkey, kUsbKeyInterface> {
  public:
    using Primary = Iorva_usbkey;
    static constexpr std::array<const IID*, 2> kInterfaces = {&IID_IDispatch, &IID_Iorva_usbkey};

    HRESULT GetMediaID(BSTR* pbstrDevSN) override;
    HRESULT GetDriverVersion(BSTR* pbstrVersion) override;
    HRESULT GMGetCertDN(BSTR* pbstrCertDN) override;
    HRESULT GMGetPublicKey(BSTR bstrReadType, BSTR* pbstrPubInfo) override;
    HRESULT GMGetPublicKeyC(BSTR bstrKeyType, BSTR bstrDnOrID, BSTR bstrBase64SerRand,
                            BSTR* pbstrPubInfo) override;
    HRESULT GetPublicKeyC(BSTR* pbstrPubInfo) override;
    HRESULT GMGetAdminKeyInfo(BSTR* pbstrAdminKeyInfo) override;
    HRESULT GMDelTempKey(BSTR bstrCertDn, BSTR bstrPublicKeyId, INT* pnErrorNum) override;
    HRESULT GetVersion(BSTR* pbstrCtrlVersion) override;
    HRESULT CustInitCard(INT* pnErrorNum) override;
    HRESULT ChangePin(INT* pnErrorNum) override;
    HRESULT GetCharsetList(BSTR* pbstrCharSetList) override;
    HRESULT SetCharset(BSTR bstrCharSet, INT* pnErrorNum) override;
    HRESULT GetLanguageList(BSTR* pbstrLanguageList) override;
    HRESULT SetLanguage(BSTR bstrLanguage, INT* pnErrorNum) override;
    HRESULT SetWarningMsg(BSTR bstrTips, INT* pnErrorNum) override;
    HRESULT GMUsbKeySign(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg, BSTR bstrKeyMsg,
                         BSTR bstrNewVal, BSTR* pbstrSignature) override;
    HRESULT GMUsbKeySignFile(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg, BSTR bstrKeyMsg,
                             BSTR bstrSignFilePath, BSTR bstrP7FilePath, INT* pnErrorNum) override;
    HRESULT GMCreatePKCS10(BSTR bstrCertReq, BSTR* pstrPkcs10) override;
    HRESULT GMWritePKCS7(BSTR bstrP7Cert, INT* pnErrorNum) override;
    HRESULT GMWritePKCS7_Enc(BSTR bstrSignP7, BSTR bstrEncData, BSTR bstrSvrRand,
                             INT* pnErrorNum) override;
    HRESULT GMGetTemKey(BSTR* pbstrTemKey) override;
    HRESULT GMBankEncGetRand(BSTR* pbstrRand) override;
    HRESULT GMGetPKCS7(BSTR* pbstrPkcs7) override;
    HRESULT GMJudgeAndDelOlderDN(INT* pnErrorNum) override;
    HRESULT GetCSPInfo(BSTR bstrDevSN, BSTR* pstrCSPName) override;
    HRESULT GetPublicKeyNum(INT* pnPubCount) override;
    HRESULT RegisterCert(INT* pnErrorNum) override;
    HRESULT UnRegisterCert(INT* pnErrorNum) override;
    HRESULT NSChooseFileExt(BSTR* pbstrchooseFileToken) override;
    HRESULT NSFileToTokenExt(BSTR bstrFilePath, BSTR* pbstrchooseFileToken) override;
    HRESULT GMUsbKeySignFileExt(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg,
                                BSTR bstrKeyMsg, BSTR bstrchooseFileToken,
                                BSTR* pbstrsignedFileToken) override;
    HRESULT GetSignFileContent(BSTR bstrsignedFileToken, INT nmaxLength, INT nfileOffset,
                               BSTR* pbstrReadFileInfo) override;
};

}  // namespace orva::control
