// The host's command table, and the handlers that take no keys: a text export
// with a buffer of fixed size, a code export without arguments, a number.

#include <array>

#include "command_set.h"
#include "commands.h"
#include "export_calls.h"

namespace orva::native_host {

namespace {

using frontend::ApiFunctionTable;

// export(buffer, length) with a buffer of Size bytes.
template <auto ApiFunctionTable::*Export, std::uint64_t Size>
std::string textQuery(HostState& host, const cJSON*) {
    return callTextExport(
        Size, [&](char* buffer, int* length) { return (host.api().*Export)(buffer, length); });
}

// export() and its code.
template <auto ApiFunctionTable::*Export>
std::string codeCall(HostState& host, const cJSON*) {
    return codeToText((host.api().*Export)());
}

// export(&n): n on 0, else the code.
template <auto ApiFunctionTable::*Export>
std::string numberCall(HostState& host, const cJSON*) {
    return callNumberExport([&](int* n) { return (host.api().*Export)(n); });
}

std::string getVersion(HostState&, const cJSON*) {
    return std::string(frontend::kFrontEndVersion);
}

// No PIN ever comes from a page: the key asks its user itself.
std::string custInitCard(HostState& host, const cJSON*) {
    return codeToText(host.api().CustInitCard(nullptr, 0));
}

std::string changePin(HostState& host, const cJSON*) {
    return codeToText(host.api().ChangePIN(nullptr, 0, nullptr, 0));
}

constexpr std::array<HostCommand, 35> kHostCommands = {{
    {"GetMediaID", textQuery<&ApiFunctionTable::GetDevSN, 1024>},
    {"GetDriverVersion", textQuery<&ApiFunctionTable::GetDriverVer, 256>},
    {"GMGetAdminKeyInfo", textQuery<&ApiFunctionTable::GMGetAdminKeyInfo, 1024>},
    {"GetPublicKeyC", textQuery<&ApiFunctionTable::GetPublicKeyC, 8192>},
    {"GMCreatePKCS10", handleCreatePkcs10},
    {"GMWritePKCS7", handleWritePkcs7},
    {"GMGetCertDN", textQuery<&ApiFunctionTable::GMGetCertDN, 1024>},
    {"GMGetPublicKey", handleGetPublicKey},
    {"GMGetPublicKeyC", handleGetPublicKeyC},
    {"GMDelTempKey", handleDelTempKey},
    {"GetVersion", getVersion},
    {"CustInitCard", custInitCard},
    {"ChangePin", changePin},
    {"GetCharsetList", textQuery<&ApiFunctionTable::GetCharset, 260>},
    {"SetCharset", handleSetCharset},
    {"GetLanguageList", textQuery<&ApiFunctionTable::GetDevLanguageList, 260>},
    {"SetLanguage", handleSetLanguage},
    {"SetWarningMsg", handleSetWarningMsg},
    {"GMUsbKeySign", handleUsbKeySign},
    {"GMUsbKeySignFile", handleUsbKeySignFile},
    {"GMWritePKCS7_Enc", handleWritePkcs7Enc},
    {"GMGetTemKey", textQuery<&ApiFunctionTable::GMGetTemKey, 1024>},
    {"GMBankEncGetRand", textQuery<&ApiFunctionTable::GMBankGetRand, 256>},
    {"GMGetPKCS7", textQuery<&ApiFunctionTable::GMGetPKCS7, 8192>},
    // The library leaves n at 0: "0" when it deleted, else its code ("1": nothing to delete).
    {"GMJudgeAndDelOlderDN", numberCall<&ApiFunctionTable::GMJudgeAndDelOlderDN>},
    {"NSChooseFile", handleChooseFile},
    {"NSChooseFileExt", textQuery<&ApiFunctionTable::ChooseFileExt, 2048>},
    {"NSFileToTokenExt", handleFileToTokenExt},
    {"GMUsbKeySignFileExt", handleUsbKeySignFileExt},
    {"GetSignFileContent", handleGetSignFileContent},
    {"GetCSPInfo", textQuery<&ApiFunctionTable::GetCSPInfo, 256>},
    {"GetPublicKeyNum", numberCall<&ApiFunctionTable::GetPublicKeyNum>},
    {"RegisterCert", codeCall<&ApiFunctionTable::RegisterCert>},
    {"UnRegisterCert", codeCall<&ApiFunctionTable::UnRegisterCert>},
    {"GetDataPackage", nullptr},
}};

static_assert(kHostCommands.size() == frontend::commandCount(frontend::kHost));

}  // namespace

std::span<const HostCommand> hostCommands() noexcept {
    return kHostCommands;
}

const HostCommand* findHostCommand(std::string_view name) noexcept {
    for (const HostCommand& command : kHostCommands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace orva::native_host
