#pragma once

// The control's dual interface Iorva_usbkey, its class and its type library,
// declared by hand: IDispatch, then the 33 methods in the order of their
// dispatch identifiers 1 to 33, each with its [out,retval] last.

#include "orva/com_registration.h"
#include "win32/com.h"

namespace orva::control {

inline constexpr CLSID CLSID_orva_usbkey{
    0xF0682987, 0xA368, 0x4235, {0x80, 0x21, 0x46, 0x0C, 0xD7, 0xF2, 0xA6, 0x30}};
inline constexpr IID IID_Iorva_usbkey{
    0xD8EC93B3, 0xABD7, 0x4D0F, {0x86, 0xB1, 0x6A, 0x68, 0xB0, 0x95, 0x98, 0x30}};
inline constexpr GUID LIBID_ORVA_USBKEY_CTRLLib{
    0x66589805, 0x16CC, 0x4491, {0x85, 0xD6, 0xF2, 0x53, 0x50, 0x53, 0x3B, 0x35}};

struct Iorva_usbkey : IDispatch {
    virtual HRESULT GetMediaID(BSTR* pbstrDevSN) = 0;
    virtual HRESULT GetDriverVersion(BSTR* pbstrVersion) = 0;
    virtual HRESULT GMGetCertDN(BSTR* pbstrCertDN) = 0;
    virtual HRESULT GMGetPublicKey(BSTR bstrReadType, BSTR* pbstrPubInfo) = 0;
    virtual HRESULT GMGetPublicKeyC(BSTR bstrKeyType, BSTR bstrDnOrID, BSTR bstrBase64SerRand,
                                    BSTR* pbstrPubInfo) = 0;
    virtual HRESULT GetPublicKeyC(BSTR* pbstrPubInfo) = 0;
    virtual HRESULT GMGetAdminKeyInfo(BSTR* pbstrAdminKeyInfo) = 0;
    virtual HRESULT GMDelTempKey(BSTR bstrCertDn, BSTR bstrPublicKeyId, INT* pnErrorNum) = 0;
    virtual HRESULT GetVersion(BSTR* pbstrCtrlVersion) = 0;
    virtual HRESULT CustInitCard(INT* pnErrorNum) = 0;
    virtual HRESULT ChangePin(INT* pnErrorNum) = 0;
    virtual HRESULT GetCharsetList(BSTR* pbstrCharSetList) = 0;
    virtual HRESULT SetCharset(BSTR bstrCharSet, INT* pnErrorNum) = 0;
    virtual HRESULT GetLanguageList(BSTR* pbstrLanguageList) = 0;
    virtual HRESULT SetLanguage(BSTR bstrLanguage, INT* pnErrorNum) = 0;
    virtual HRESULT SetWarningMsg(BSTR bstrTips, INT* pnErrorNum) = 0;
    virtual HRESULT GMUsbKeySign(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg,
                                 BSTR bstrKeyMsg, BSTR bstrNewVal, BSTR* pbstrSignature) = 0;
    virtual HRESULT GMUsbKeySignFile(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg,
                                     BSTR bstrKeyMsg, BSTR bstrSignFilePath, BSTR bstrP7FilePath,
                                     INT* pnErrorNum) = 0;
    virtual HRESULT GMCreatePKCS10(BSTR bstrCertReq, BSTR* pstrPkcs10) = 0;
    virtual HRESULT GMWritePKCS7(BSTR bstrP7Cert, INT* pnErrorNum) = 0;
    virtual HRESULT GMWritePKCS7_Enc(BSTR bstrSignP7, BSTR bstrEncData, BSTR bstrSvrRand,
                                     INT* pnErrorNum) = 0;
    virtual HRESULT GMGetTemKey(BSTR* pbstrTemKey) = 0;
    virtual HRESULT GMBankEncGetRand(BSTR* pbstrRand) = 0;
    virtual HRESULT GMGetPKCS7(BSTR* pbstrPkcs7) = 0;
    virtual HRESULT GMJudgeAndDelOlderDN(INT* pnErrorNum) = 0;
    virtual HRESULT GetCSPInfo(BSTR bstrDevSN, BSTR* pstrCSPName) = 0;
    virtual HRESULT GetPublicKeyNum(INT* pnPubCount) = 0;
    virtual HRESULT RegisterCert(INT* pnErrorNum) = 0;
    virtual HRESULT UnRegisterCert(INT* pnErrorNum) = 0;
    virtual HRESULT NSChooseFileExt(BSTR* pbstrchooseFileToken) = 0;
    virtual HRESULT NSFileToTokenExt(BSTR bstrFilePath, BSTR* pbstrchooseFileToken) = 0;
    virtual HRESULT GMUsbKeySignFileExt(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg,
                                        BSTR bstrKeyMsg, BSTR bstrchooseFileToken,
                                        BSTR* pbstrsignedFileToken) = 0;
    virtual HRESULT GetSignFileContent(BSTR bstrsignedFileToken, INT nmaxLength, INT nfileOffset,
                                       BSTR* pbstrReadFileInfo) = 0;
};

// The type library as its registration names it.
inline constexpr const char* kTypeLibraryHelp = "orva_usbkey_ctrl 1.0 Type Library";
inline constexpr const char* kClassHelp = "orva_usbkey Class";
inline constexpr orva::platform::TypeLibraryInterface kTypeLibraryInterfaces[] = {
    {IID_Iorva_usbkey, "Iorva_usbkey"}};
inline constexpr orva::platform::TypeLibraryDescription kTypeLibrary{
    LIBID_ORVA_USBKEY_CTRLLib, 1, 0, kTypeLibraryHelp, kTypeLibraryInterfaces};

}  // namespace orva::control
