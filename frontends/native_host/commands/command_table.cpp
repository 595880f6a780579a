// The host's command table, and the handlers that take no keys: a text export
// with a buffer of fixed size, a code export without arguments, a number.

#include <array>
#include <utility>

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

// A command that answers its handler's result text.
template <Handler H>
JsonPtr result(HostState& host, JsonPtr request) {
    return handlerResponse(H, host, std::move(request));
}

constexpr std::array<HostCommand, 35> kHostCommands = {{
    {"GetMediaID", result<textQuery<&ApiFunctionTable::GetDevSN, 1024>>},
    {"GetDriverVersion", result<textQuery<&ApiFunctionTable::GetDriverVer, 256>>},
    {"GMGetAdminKeyInfo", result<textQuery<&ApiFunctionTable::GMGetAdminKeyInfo, 1024>>},
    {"GetPublicKeyC", result<textQuery<&ApiFunctionTable::GetPublicKeyC, 8192>>},
    {"GMCreatePKCS10", result<handleCreatePkcs10>},
    {"GMWritePKCS7", result<handleWritePkcs7>},
    {"GMGetCertDN", result<textQuery<&ApiFunctionTable::GMGetCertDN, 1024>>},
    {"GMGetPublicKey", result<handleGetPublicKey>},
    {"GMGetPublicKeyC", result<handleGetPublicKeyC>},
    {"GMDelTempKey", result<handleDelTempKey>},
    {"GetVersion", result<getVersion>},
    {"CustInitCard", result<custInitCard>},
    {"ChangePin", result<changePin>},
    {"GetCharsetList", result<textQuery<&ApiFunctionTable::GetCharset, 260>>},
    {"SetCharset", result<handleSetCharset>},
    {"GetLanguageList", result<textQuery<&ApiFunctionTable::GetDevLanguageList, 260>>},
    {"SetLanguage", result<handleSetLanguage>},
    {"SetWarningMsg", result<handleSetWarningMsg>},
    {"GMUsbKeySign", result<handleUsbKeySign>},
    {"GMUsbKeySignFile", result<handleUsbKeySignFile>},
    {"GMWritePKCS7_Enc", result<handleWritePkcs7Enc>},
    {"GMGetTemKey", result<textQuery<&ApiFunctionTable::GMGetTemKey, 1024>>},
    {"GMBankEncGetRand", result<textQuery<&ApiFunctionTable::GMBankGetRand, 256>>},
    {"GMGetPKCS7", result<textQuery<&ApiFunctionTable::GMGetPKCS7, 8192>>},
    // The library leaves n at 0: "0" when it deleted, else its code ("1": nothing to delete).
    {"GMJudgeAndDelOlderDN", result<numberCall<&ApiFunctionTable::GMJudgeAndDelOlderDN>>},
    {"NSChooseFile", result<handleChooseFile>},
    {"NSChooseFileExt", result<textQuery<&ApiFunctionTable::ChooseFileExt, 2048>>},
    {"NSFileToTokenExt", result<handleFileToTokenExt>},
    {"GMUsbKeySignFileExt", result<handleUsbKeySignFileExt>},
    {"GetSignFileContent", result<handleGetSignFileContent>},
    {"GetCSPInfo", result<textQuery<&ApiFunctionTable::GetCSPInfo, 256>>},
    {"GetPublicKeyNum", result<numberCall<&ApiFunctionTable::GetPublicKeyNum>>},
    {"RegisterCert", result<codeCall<&ApiFunctionTable::RegisterCert>>},
    {"UnRegisterCert", result<codeCall<&ApiFunctionTable::UnRegisterCert>>},
    {"GetDataPackage", nextPieceResponse},
}};

static_assert(frontend::tableMatches(kHostCommands, frontend::kHost,
                                     frontend::TableOrder::vocabulary));

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
