// Iorva_usbkey as late binding sees it: each method's name, dispatch
// identifier, parameters and the adapter onto its vtable entry.

#include "command_set.h"
#include "orva_usbkey.h"

namespace orva::control {

namespace {

using com::MethodDescription;
using com::ParamDescription;
constexpr com::ParamType kText = com::ParamType::text;
constexpr com::ParamType kInt = com::ParamType::integer;

Iorva_usbkey& control(IDispatch& object) {
    return static_cast<Iorva_usbkey&>(object);
}

constexpr ParamDescription kReadType[] = {{"bstrReadType", kText}};
constexpr ParamDescription kPublicKeyC[] = {
    {"bstrKeyType", kText}, {"bstrDnOrID", kText}, {"bstrBase64SerRand", kText}};
constexpr ParamDescription kDelTempKey[] = {{"bstrCertDn", kText}, {"bstrPublicKeyId", kText}};
constexpr ParamDescription kCharSet[] = {{"bstrCharSet", kText}};
constexpr ParamDescription kLanguage[] = {{"bstrLanguage", kText}};
constexpr ParamDescription kTips[] = {{"bstrTips", kText}};
constexpr ParamDescription kSign[] = {{"bstrSignerDN", kText},
                                      {"bstrHashName", kText},
                                      {"bstrXmlMsg", kText},
                                      {"bstrKeyMsg", kText},
                                      {"bstrNewVal", kText}};
constexpr ParamDescription kSignFile[] = {{"bstrSignerDN", kText},     {"bstrHashName", kText},
                                          {"bstrXmlMsg", kText},       {"bstrKeyMsg", kText},
                                          {"bstrSignFilePath", kText}, {"bstrP7FilePath", kText}};
constexpr ParamDescription kCertReq[] = {{"bstrCertReq", kText}};
constexpr ParamDescription kP7Cert[] = {{"bstrP7Cert", kText}};
constexpr ParamDescription kWriteEnc[] = {
    {"bstrSignP7", kText}, {"bstrEncData", kText}, {"bstrSvrRand", kText}};
constexpr ParamDescription kDevSN[] = {{"bstrDevSN", kText}};
constexpr ParamDescription kFilePath[] = {{"bstrFilePath", kText}};
constexpr ParamDescription kSignFileExt[] = {{"bstrSignerDN", kText},
                                             {"bstrHashName", kText},
                                             {"bstrXmlMsg", kText},
                                             {"bstrKeyMsg", kText},
                                             {"bstrchooseFileToken", kText}};
constexpr ParamDescription kContent[] = {
    {"bstrsignedFileToken", kText}, {"nmaxLength", kInt}, {"nfileOffset", kInt}};

constexpr MethodDescription kMethods[] = {
    {1,
     "GetMediaID",
     {},
     {"pbstrDevSN", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) { return control(o).GetMediaID(&r->bstrVal); }},
    {2,
     "GetDriverVersion",
     {},
     {"pbstrVersion", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).GetDriverVersion(&r->bstrVal);
     }},
    {3,
     "GMGetCertDN",
     {},
     {"pbstrCertDN", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) { return control(o).GMGetCertDN(&r->bstrVal); }},
    {4,
     "GMGetPublicKey",
     kReadType,
     {"pbstrPubInfo", kText},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMGetPublicKey(a[0].bstrVal, &r->bstrVal);
     }},
    {5,
     "GMGetPublicKeyC",
     kPublicKeyC,
     {"pbstrPubInfo", kText},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMGetPublicKeyC(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, &r->bstrVal);
     }},
    {6,
     "GetPublicKeyC",
     {},
     {"pbstrPubInfo", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).GetPublicKeyC(&r->bstrVal);
     }},
    {7,
     "GMGetAdminKeyInfo",
     {},
     {"pbstrAdminKeyInfo", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).GMGetAdminKeyInfo(&r->bstrVal);
     }},
    {8,
     "GMDelTempKey",
     kDelTempKey,
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMDelTempKey(a[0].bstrVal, a[1].bstrVal, &r->intVal);
     }},
    {9,
     "GetVersion",
     {},
     {"pbstrCtrlVersion", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) { return control(o).GetVersion(&r->bstrVal); }},
    {10,
     "CustInitCard",
     {},
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT*, VARIANT* r) { return control(o).CustInitCard(&r->intVal); }},
    {11,
     "ChangePin",
     {},
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT*, VARIANT* r) { return control(o).ChangePin(&r->intVal); }},
    {12,
     "GetCharsetList",
     {},
     {"pbstrCharSetList", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).GetCharsetList(&r->bstrVal);
     }},
    {13,
     "SetCharset",
     kCharSet,
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).SetCharset(a[0].bstrVal, &r->intVal);
     }},
    {14,
     "GetLanguageList",
     {},
     {"pbstrLanguageList", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).GetLanguageList(&r->bstrVal);
     }},
    {15,
     "SetLanguage",
     kLanguage,
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).SetLanguage(a[0].bstrVal, &r->intVal);
     }},
    {16,
     "SetWarningMsg",
     kTips,
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).SetWarningMsg(a[0].bstrVal, &r->intVal);
     }},
    {17,
     "GMUsbKeySign",
     kSign,
     {"pbstrSignature", kText},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMUsbKeySign(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3].bstrVal,
                                        a[4].bstrVal, &r->bstrVal);
     }},
    {18,
     "GMUsbKeySignFile",
     kSignFile,
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMUsbKeySignFile(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3].bstrVal,
                                            a[4].bstrVal, a[5].bstrVal, &r->intVal);
     }},
    {19,
     "GMCreatePKCS10",
     kCertReq,
     {"pstrPkcs10", kText},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMCreatePKCS10(a[0].bstrVal, &r->bstrVal);
     }},
    {20,
     "GMWritePKCS7",
     kP7Cert,
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMWritePKCS7(a[0].bstrVal, &r->intVal);
     }},
    {21,
     "GMWritePKCS7_Enc",
     kWriteEnc,
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMWritePKCS7_Enc(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, &r->intVal);
     }},
    {22,
     "GMGetTemKey",
     {},
     {"pbstrTemKey", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) { return control(o).GMGetTemKey(&r->bstrVal); }},
    {23,
     "GMBankEncGetRand",
     {},
     {"pbstrRand", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).GMBankEncGetRand(&r->bstrVal);
     }},
    {24,
     "GMGetPKCS7",
     {},
     {"pbstrPkcs7", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) { return control(o).GMGetPKCS7(&r->bstrVal); }},
    {25,
     "GMJudgeAndDelOlderDN",
     {},
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).GMJudgeAndDelOlderDN(&r->intVal);
     }},
    {26,
     "GetCSPInfo",
     kDevSN,
     {"pstrCSPName", kText},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GetCSPInfo(a[0].bstrVal, &r->bstrVal);
     }},
    {27,
     "GetPublicKeyNum",
     {},
     {"pnPubCount", kInt},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).GetPublicKeyNum(&r->intVal);
     }},
    {28,
     "RegisterCert",
     {},
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT*, VARIANT* r) { return control(o).RegisterCert(&r->intVal); }},
    {29,
     "UnRegisterCert",
     {},
     {"pnErrorNum", kInt},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).UnRegisterCert(&r->intVal);
     }},
    {30,
     "NSChooseFileExt",
     {},
     {"pbstrchooseFileToken", kText},
     [](IDispatch& o, const VARIANT*, VARIANT* r) {
         return control(o).NSChooseFileExt(&r->bstrVal);
     }},
    {31,
     "NSFileToTokenExt",
     kFilePath,
     {"pbstrchooseFileToken", kText},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).NSFileToTokenExt(a[0].bstrVal, &r->bstrVal);
     }},
    {32,
     "GMUsbKeySignFileExt",
     kSignFileExt,
     {"pbstrsignedFileToken", kText},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GMUsbKeySignFileExt(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal,
                                               a[3].bstrVal, a[4].bstrVal, &r->bstrVal);
     }},
    {33,
     "GetSignFileContent",
     kContent,
     {"pbstrReadFileInfo", kText},
     [](IDispatch& o, const VARIANT* a, VARIANT* r) {
         return control(o).GetSignFileContent(a[0].bstrVal, a[1].intVal, a[2].intVal, &r->bstrVal);
     }},
};
static_assert(frontend::tableMatches(kMethods, frontend::kControl, frontend::TableOrder::own));
// The control's own order: the DISPIDs 1 to 33, in row order.
static_assert([] {
    for (std::size_t i = 0; i < std::size(kMethods); ++i) {
        if (kMethods[i].id != static_cast<DISPID>(i + 1)) {
            return false;
        }
    }
    return true;
}());

}  // namespace

const com::InterfaceDescription kUsbKeyInterface{"Iorva_usbkey", "Iorva_usbkey Interface",
                                                 kMethods};

}  // namespace orva::control
