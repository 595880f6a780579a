#pragma once

// The command vocabulary of the three front ends: every command a page can
// name, which front ends offer it, the export it ends in and the form of its
// result. The rows stand in the host's order of matching (first match wins).

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "orva_api_exports.h"

namespace orva::frontend {

// Which front ends offer a command (a bit set).
enum FrontEnd : unsigned {
    kHost = 1u << 0,
    kPlugin = 1u << 1,
    kControl = 1u << 2,
    kAllFrontEnds = kHost | kPlugin | kControl,
};

enum class ResultForm {
    text,      // the export's text on 0, else the code
    code,      // the code alone, 0 included
    number,    // an int the export writes, on 0; else the code
    constant,  // a fixed text; no export
    piece,     // the next piece of a long host reply
    value,     // one of the plug-in's kept values
};

struct CommandRow {
    std::string_view name;        // as pages write it; matched case-sensitively
    unsigned offeredBy;           // FrontEnd bits
    std::string_view exportName;  // without "QZAPI_"; empty when none is called
    ResultForm result;
};

inline constexpr std::array<CommandRow, 40> kCommandSet = {{
    {"GetMediaID", kAllFrontEnds, "GetDevSN", ResultForm::text},
    {"GetDriverVersion", kAllFrontEnds, "GetDriverVer", ResultForm::text},
    {"GMGetAdminKeyInfo", kAllFrontEnds, "GMGetAdminKeyInfo", ResultForm::text},
    {"GetPublicKeyC", kAllFrontEnds, "GetPublicKeyC", ResultForm::text},
    {"GMCreatePKCS10", kAllFrontEnds, "GMCreatePKCS10", ResultForm::text},
    {"GMWritePKCS7", kAllFrontEnds, "GMWritePKCS7_Enc", ResultForm::code},
    {"GMGetCertDN", kAllFrontEnds, "GMGetCertDN", ResultForm::text},
    {"GMGetPublicKey", kAllFrontEnds, "GMGetPubkeyInfo", ResultForm::text},
    {"GMGetPublicKeyC", kAllFrontEnds, "GMGetPubkeyInfoC", ResultForm::text},
    {"GMDelTempKey", kAllFrontEnds, "GMDelTempKey", ResultForm::code},
    {"GetVersion", kAllFrontEnds, "", ResultForm::constant},
    {"CustInitCard", kAllFrontEnds, "CustInitCard", ResultForm::code},
    {"ChangePin", kAllFrontEnds, "ChangePIN", ResultForm::code},
    {"GetCharsetList", kAllFrontEnds, "GetCharset", ResultForm::text},
    {"SetCharset", kAllFrontEnds, "SetCharset", ResultForm::code},
    {"GetLanguageList", kAllFrontEnds, "GetDevLanguageList", ResultForm::text},
    {"SetLanguage", kAllFrontEnds, "SetDevLanguage", ResultForm::code},
    {"SetWarningMsg", kAllFrontEnds, "SetWarningTips", ResultForm::code},
    {"GMUsbKeySign", kAllFrontEnds, "GMUsbKeySign", ResultForm::text},
    {"GMUsbKeySignFile", kAllFrontEnds, "GMUsbKeySign", ResultForm::code},
    {"GMWritePKCS7_Enc", kAllFrontEnds, "GMWritePKCS7_Enc", ResultForm::code},
    {"GMGetTemKey", kAllFrontEnds, "GMGetTemKey", ResultForm::text},
    {"GMBankEncGetRand", kAllFrontEnds, "GMBankGetRand", ResultForm::text},
    {"GMGetPKCS7", kAllFrontEnds, "GMGetPKCS7", ResultForm::text},
    // 0 when containers were deleted, 1 when none had to be: a code either way.
    {"GMJudgeAndDelOlderDN", kAllFrontEnds, "GMJudgeAndDelOlderDN", ResultForm::code},
    // The path comes back in the ANSI code page and goes out in UTF-8.
    {"NSChooseFile", kHost, "ChooseFile", ResultForm::text},
    {"NSChooseFileExt", kAllFrontEnds, "ChooseFileExt", ResultForm::text},
    {"NSFileToTokenExt", kAllFrontEnds, "FileToTokenExt", ResultForm::text},
    {"GMUsbKeySignFileExt", kAllFrontEnds, "GMUsbKeySignFileExt", ResultForm::text},
    {"GetSignFileContent", kAllFrontEnds, "GetSignFileContent", ResultForm::text},
    {"GetCSPInfo", kAllFrontEnds, "GetCSPInfo", ResultForm::text},
    {"GetPublicKeyNum", kAllFrontEnds, "GetPublicKeyNum", ResultForm::number},
    {"RegisterCert", kAllFrontEnds, "RegisterCert", ResultForm::code},
    {"UnRegisterCert", kAllFrontEnds, "UnRegisterCert", ResultForm::code},
    {"GetDataPackage", kHost, "", ResultForm::piece},
    {"GetLongValue", kPlugin, "", ResultForm::value},
    {"GetStrValue1", kPlugin, "", ResultForm::value},
    {"GetStrValue2", kPlugin, "", ResultForm::value},
    {"GetStrValue3", kPlugin, "", ResultForm::value},
    {"FreeBuffer", kPlugin, "", ResultForm::value},
}};

// Whether name (without "QZAPI_") is one of the library's exports.
constexpr bool isApiExport(std::string_view name) {
    return std::any_of(kApiFunctionNames.begin(), kApiFunctionNames.end(),
                       [name](std::string_view exported) { return exported.substr(6) == name; });
}
static_assert(std::all_of(kCommandSet.begin(), kCommandSet.end(), [](const CommandRow& row) {
    return row.exportName.empty() || isApiExport(row.exportName);
}));

// How many commands a front end offers.
constexpr std::size_t commandCount(FrontEnd frontEnd) {
    std::size_t count = 0;
    for (const CommandRow& row : kCommandSet) {
        if ((row.offeredBy & frontEnd) != 0) {
            ++count;
        }
    }
    return count;
}

// Whether name is a command offered to frontEnd.
constexpr bool offeredTo(std::string_view name, FrontEnd frontEnd) {
    return std::any_of(kCommandSet.begin(), kCommandSet.end(), [&](const CommandRow& row) {
        return row.name == name && (row.offeredBy & frontEnd) != 0;
    });
}

// The order of a front end's table: the vocabulary's (the host's order of
// matching), or one of its own that pages already see (the plug-in's Invoke
// order, the control's DISPIDs).
enum class TableOrder { vocabulary, own };

// Whether a front end's table (rows with a name) holds exactly the commands
// offered to it, each once, in the order given. Every front end checks its
// table with it at compile time.
template <class Rows>
constexpr bool tableMatches(const Rows& rows, FrontEnd frontEnd, TableOrder order) {
    if (std::size(rows) != commandCount(frontEnd)) {
        return false;
    }
    auto next = kCommandSet.begin();
    for (auto row = std::begin(rows); row != std::end(rows); ++row) {
        const std::string_view name(row->name);
        if (!offeredTo(name, frontEnd)) {
            return false;
        }
        if (std::any_of(std::begin(rows), row, [&](const auto& earlier) {
                return std::string_view(earlier.name) == name;
            })) {
            return false;
        }
        if (order == TableOrder::vocabulary) {
            next = std::find_if(next, kCommandSet.end(),
                                [&](const CommandRow& command) { return command.name == name; });
            if (next == kCommandSet.end()) {
                return false;
            }
        }
    }
    return true;
}

// The host's version text, and the plug-in's.
inline constexpr std::string_view kFrontEndVersion = "1.0.0.0";

}  // namespace orva::frontend
