#pragma once

// The 38 method names a page may call on the scriptable object, in the order
// Invoke tests them, and their identifiers.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "command_set.h"
#include "npapi/npapi.h"

namespace orva::npapi_plugin {

inline constexpr std::size_t kMethodCount = 38;

inline constexpr std::array<std::string_view, kMethodCount> kMethodNames = {
    "GetLongValue",         "GetStrValue1",     "GetStrValue2",      "GetStrValue3",
    "GetMediaID",           "GetDriverVersion", "GMGetCertDN",       "GMGetPublicKey",
    "GMGetPublicKeyC",      "GetPublicKeyC",    "GMGetAdminKeyInfo", "GMDelTempKey",
    "GetVersion",           "CustInitCard",     "ChangePin",         "GetCharsetList",
    "SetCharset",           "GetLanguageList",  "SetLanguage",       "SetWarningMsg",
    "GMUsbKeySign",         "GMCreatePKCS10",   "GMWritePKCS7",      "GMUsbKeySignFile",
    "GMWritePKCS7_Enc",     "GMGetTemKey",      "GMBankEncGetRand",  "GMGetPKCS7",
    "GMJudgeAndDelOlderDN", "GetCSPInfo",       "GetPublicKeyNum",   "RegisterCert",
    "UnRegisterCert",       "NSChooseFileExt",  "NSFileToTokenExt",  "GMUsbKeySignFileExt",
    "GetSignFileContent",   "FreeBuffer",
};

// The names are exactly the vocabulary's plug-in commands.
constexpr bool offeredToThePlugin(std::string_view name) {
    for (const frontend::CommandRow& row : frontend::kCommandSet) {
        if (row.name == name) {
            return (row.offeredBy & frontend::kPlugin) != 0;
        }
    }
    return false;
}
static_assert(frontend::commandCount(frontend::kPlugin) == kMethodCount);
static_assert([] {
    for (std::string_view name : kMethodNames) {
        if (!offeredToThePlugin(name)) {
            return false;
        }
    }
    return true;
}());

// Asks the browser for the 38 identifiers again.
void fetchMethodIdentifiers() noexcept;
// The position of identifier among the 38, if it is one of them.
std::optional<std::size_t> methodIndex(NPIdentifier identifier) noexcept;

}  // namespace orva::npapi_plugin
