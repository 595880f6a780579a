// DispatchCommand: parse, find "CmdType", bind, run the handler, print.

#include "dispatch.h"

#include "commands/commands.h"
#include "commands/responses.h"
#include "export_calls.h"
#include "json.h"

namespace orva::native_host {

namespace {

// The printed reply, or the empty text when it cannot be printed.
std::string print(const cJSON* reply) {
    const JsonText text(cJSON_PrintUnformatted(reply));
    return text ? std::string(text.get()) : std::string();
}

std::string dispatch(HostState& host, std::string_view body) {
    // Parse; what follows the first value is ignored.
    JsonPtr request(cJSON_ParseWithLength(body.data(), body.size()));
    if (!request) {
        return {};
    }
    // A non-empty string "CmdType" (the key in any case).
    const cJSON* type = cJSON_GetObjectItem(request.get(), "CmdType");
    if (!cJSON_IsString(type) || type->valuestring == nullptr || *type->valuestring == '\0') {
        return {};
    }
    const std::string name = type->valuestring;
    // Bind, for every name; a failure is tried again at the next request.
    if (!host.binding.ensureApiLoaded()) {
        return buildErrorReply(name.c_str());
    }
    // The reply, "CmdType" first.
    JsonPtr reply(cJSON_CreateObject());
    if (!reply || !addItem(reply.get(), "CmdType", JsonPtr(cJSON_CreateString(name.c_str())))) {
        return {};
    }
    // The first command of that exact name.
    const HostCommand* command = findHostCommand(name);
    JsonPtr resp;
    if (command != nullptr) {
        resp = command->respond(host, std::move(request));
    } else {
        // An unknown command answers the empty text.
        request.reset();
        resp = resultResponse(host, std::string());
    }
    if (!addItem(reply.get(), "Resp", std::move(resp))) {
        return {};
    }
    // Printed without spaces.
    return print(reply.get());
}

}  // namespace

std::string buildErrorReply(const char* name) {
    JsonPtr reply(cJSON_CreateObject());
    if (!reply || !addItem(reply.get(), "CmdType", JsonPtr(cJSON_CreateString(name))) ||
        !addItem(reply.get(), "Resp",
                 JsonPtr(cJSON_CreateString(codeToText(kDriverNotInstalled).c_str())))) {
        return {};
    }
    return print(reply.get());
}

std::string dispatchCommand(HostState& host, std::string_view body) noexcept {
    try {
        return dispatch(host, body);
    } catch (...) {
        // Out of memory outside a handler: no reply can be built.
        return {};
    }
}

}  // namespace orva::native_host
