#pragma once

// The 38 methods a page may call on the scriptable object, each with its name,
// in the order Invoke tests them.

#include <array>
#include <string_view>

#include "command_set.h"
#include "methods.h"

namespace orva::npapi_plugin {

struct MethodRow {
    std::string_view name;  // a NUL-terminated literal
    Method method;
};

using frontend::ApiFunctionTable;

inline constexpr std::array<MethodRow, kMethodCount> kMethodRows = {{
    {"GetLongValue", getLongValue},
    {"GetStrValue1", getStrValue<0>},
    {"GetStrValue2", getStrValue<1>},
    {"GetStrValue3", getStrValue<2>},
    {"GetMediaID", textQuery<&ApiFunctionTable::GetDevSN, 260>},
    {"GetDriverVersion", textQuery<&ApiFunctionTable::GetDriverVer, 32>},
    {"GMGetCertDN", textQuery<&ApiFunctionTable::GMGetCertDN, 8192>},
    {"GMGetPublicKey", gmGetPublicKey},
    {"GMGetPublicKeyC", gmGetPublicKeyC},
    {"GetPublicKeyC", textQuery<&ApiFunctionTable::GetPublicKeyC, 8192>},
    {"GMGetAdminKeyInfo", textQuery<&ApiFunctionTable::GMGetAdminKeyInfo, 128>},
    {"GMDelTempKey", gmDelTempKey},
    {"GetVersion", getVersion},
    {"CustInitCard", custInitCard},
    {"ChangePin", changePin},
    {"GetCharsetList", textQuery<&ApiFunctionTable::GetCharset, 512>},
    {"SetCharset", setCharset},
    {"GetLanguageList", textQuery<&ApiFunctionTable::GetDevLanguageList, 512>},
    {"SetLanguage", setLanguage},
    {"SetWarningMsg", setWarningMsg},
    {"GMUsbKeySign", gmUsbKeySign},
    {"GMCreatePKCS10", gmCreatePkcs10},
    {"GMWritePKCS7", gmWritePkcs7},
    {"GMUsbKeySignFile", gmUsbKeySignFile},
    {"GMWritePKCS7_Enc", gmWritePkcs7Enc},
    {"GMGetTemKey", textQuery<&ApiFunctionTable::GMGetTemKey, 1024>},
    {"GMBankEncGetRand", textQuery<&ApiFunctionTable::GMBankGetRand, 1024>},
    {"GMGetPKCS7", textQuery<&ApiFunctionTable::GMGetPKCS7, 32768>},
    {"GMJudgeAndDelOlderDN", gmJudgeAndDelOlderDn},
    {"GetCSPInfo", textQuery<&ApiFunctionTable::GetCSPInfo, 260>},
    {"GetPublicKeyNum", getPublicKeyNum},
    {"RegisterCert", codeCall<&ApiFunctionTable::RegisterCert>},
    {"UnRegisterCert", codeCall<&ApiFunctionTable::UnRegisterCert>},
    {"NSChooseFileExt", textQuery<&ApiFunctionTable::ChooseFileExt, 4096>},
    {"NSFileToTokenExt", nsFileToTokenExt},
    {"GMUsbKeySignFileExt", gmUsbKeySignFileExt},
    {"GetSignFileContent", getSignFileContent},
    {"FreeBuffer", freeBuffer},
}};

static_assert(frontend::tableMatches(kMethodRows, frontend::kPlugin, frontend::TableOrder::own));

}  // namespace orva::npapi_plugin
