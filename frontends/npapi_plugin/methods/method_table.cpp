// The methods in the order Invoke tests their names.

#include "methods.h"

namespace orva::npapi_plugin {

using frontend::ApiFunctionTable;

const std::array<Method, kMethodCount> kMethods = {
    getLongValue,
    getStrValue<0>,
    getStrValue<1>,
    getStrValue<2>,
    textQuery<&ApiFunctionTable::GetDevSN, 260>,
    textQuery<&ApiFunctionTable::GetDriverVer, 32>,
    textQuery<&ApiFunctionTable::GMGetCertDN, 8192>,
    gmGetPublicKey,
    gmGetPublicKeyC,
    textQuery<&ApiFunctionTable::GetPublicKeyC, 8192>,
    textQuery<&ApiFunctionTable::GMGetAdminKeyInfo, 128>,
    gmDelTempKey,
    getVersion,
    custInitCard,
    changePin,
    textQuery<&ApiFunctionTable::GetCharset, 512>,
    setCharset,
    textQuery<&ApiFunctionTable::GetDevLanguageList, 512>,
    setLanguage,
    setWarningMsg,
    gmUsbKeySign,
    gmCreatePkcs10,
    gmWritePkcs7,
    gmUsbKeySignFile,
    gmWritePkcs7Enc,
    textQuery<&ApiFunctionTable::GMGetTemKey, 1024>,
    textQuery<&ApiFunctionTable::GMBankGetRand, 1024>,
    textQuery<&ApiFunctionTable::GMGetPKCS7, 32768>,
    gmJudgeAndDelOlderDn,
    textQuery<&ApiFunctionTable::GetCSPInfo, 260>,
    getPublicKeyNum,
    codeCall<&ApiFunctionTable::RegisterCert>,
    codeCall<&ApiFunctionTable::UnRegisterCert>,
    textQuery<&ApiFunctionTable::ChooseFileExt, 4096>,
    nsFileToTokenExt,
    gmUsbKeySignFileExt,
    getSignFileContent,
    freeBuffer,
};

}  // namespace orva::npapi_plugin
