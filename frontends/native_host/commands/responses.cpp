#include "responses.h"

#include <new>
#include <utility>

#include "export_calls.h"

namespace orva::native_host {

bool addItem(cJSON* object, const char* key, JsonPtr item) {
    if (!item || !cJSON_AddItemToObject(object, key, item.get())) {
        return false;
    }
    item.release();
    return true;
}

namespace {

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

}  // namespace

JsonPtr resultResponse(HostState& host, std::string result) {
    if (result.size() < kPieceSize) {
        return JsonPtr(cJSON_CreateString(result.c_str()));
    }
    return chunkedReply(host.pending.startLongResult(std::move(result)));
}

JsonPtr handlerResponse(Handler handler, HostState& host, JsonPtr request) {
    std::string result;
    try {
        result = handler(host, request.get());
    } catch (const std::bad_alloc&) {
        result = codeToText(kMallocFailed);
    }
    request.reset();
    return resultResponse(host, std::move(result));
}

JsonPtr nextPieceResponse(HostState& host, JsonPtr /*request*/) {
    return chunkedReply(host.pending.nextPiece());
}

}  // namespace orva::native_host
