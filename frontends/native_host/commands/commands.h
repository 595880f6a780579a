#pragma once

// The host's commands: a name, and the handler that reads the request's keys,
// calls one export and answers the result text. Handlers check every key
// before they call anything.

#include <cjson/cJSON.h>

#include <span>
#include <string>
#include <string_view>

#include "host_state.h"
#include "json.h"
#include "responses.h"

namespace orva::native_host {

// What a command answers: the "Resp" item of its reply (null when cJSON runs
// out of memory). The request is the responder's to give up.
using Responder = JsonPtr (*)(HostState& host, JsonPtr request);

struct HostCommand {
    std::string_view name;
    Responder respond;
};

// The 35 commands, in the order names are matched.
std::span<const HostCommand> hostCommands() noexcept;
// The first command of that exact name (case-sensitive), or null.
const HostCommand* findHostCommand(std::string_view name) noexcept;

// Handlers with keys or particular steps, one file each.
std::string handleCreatePkcs10(HostState& host, const cJSON* request);
std::string handleWritePkcs7(HostState& host, const cJSON* request);
std::string handleWritePkcs7Enc(HostState& host, const cJSON* request);
std::string handleGetPublicKey(HostState& host, const cJSON* request);
std::string handleGetPublicKeyC(HostState& host, const cJSON* request);
std::string handleDelTempKey(HostState& host, const cJSON* request);
std::string handleSetCharset(HostState& host, const cJSON* request);
std::string handleSetLanguage(HostState& host, const cJSON* request);
std::string handleSetWarningMsg(HostState& host, const cJSON* request);
std::string handleUsbKeySign(HostState& host, const cJSON* request);
std::string handleUsbKeySignFile(HostState& host, const cJSON* request);
std::string handleUsbKeySignFileExt(HostState& host, const cJSON* request);
std::string handleGetSignFileContent(HostState& host, const cJSON* request);
std::string handleChooseFile(HostState& host, const cJSON* request);
std::string handleFileToTokenExt(HostState& host, const cJSON* request);

}  // namespace orva::native_host
