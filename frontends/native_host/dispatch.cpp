// DispatchCommand: parse, find "CmdType", bind, run the handler, print.

#include "dispatch.h"

#include <new>

#include "commands/commands.h"
#include "export_calls.h"
#include "json.h"

namespace orva::native_host {

namespace {

// Adds item under key; the object owns it from then on. false when there is
// no item or no memory for the key.
bool addItem(cJSON* object, const char* key, JsonPtr item) {
    if (!item || !cJSON_AddItemToObject(object, key, item.get())) {
        return false;
    }
    item.release();
    return true;
}

// The printed reply, or the empty text when it cannot be printed.
std::string print(const cJSON* reply) {
    const JsonText text(cJSON_PrintUnformatted(reply));
    return text ? std::string(text.get()) : std::string();
}

// {"leftsize":n,"content":"..."}, members in that order; null when cJSON
// runs out of memory.
JsonPtr chunkedReply(const Piece& piece) {
    JsonPtr object(cJSON_CreateObject());
    const std::string content(piece.content);
    if (!object ||
        !addItem(object.get(), "leftsize",
                 JsonPtr(cJSON_CreateNumber(static_cast<double>(piece.leftsize)))) ||
        !addItem(object.get(), "content", JsonPtr(cJSON_CreateString(content.c_str())))) {
        return nullptr;
    }
    return object;
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
    if (command != nullptr && command->handler == nullptr) {
        // "GetDataPackage" answers the next piece.
        resp = chunkedReply(host.pending.nextPiece());
    } else {
        std::string result;
        if (command != nullptr) {
            try {
                result = command->handler(host, request.get());
            } catch (const std::bad_alloc&) {
                result = codeToText(kMallocFailed);
            }
        }
        request.reset();
        if (result.size() < kPieceSize) {
            resp.reset(cJSON_CreateString(result.c_str()));
        } else {
            resp = chunkedReply(host.pending.startLongResult(std::move(result)));
        }
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
