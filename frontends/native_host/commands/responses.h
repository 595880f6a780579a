#pragma once

// The "Resp" item of a reply: a command's result text, or the next piece of a
// long one.

#include <cjson/cJSON.h>

#include <string>

#include "host_state.h"
#include "json.h"

namespace orva::native_host {

using Handler = std::string (*)(HostState& host, const cJSON* request);

// Adds item under key; the object owns it from then on. false when there is
// no item or no memory for the key.
bool addItem(cJSON* object, const char* key, JsonPtr item);

// The result as a string, or, from kPieceSize bytes on, kept and its first
// piece answered; null when cJSON runs out of memory.
JsonPtr resultResponse(HostState& host, std::string result);

// handler's result (kMallocFailed when it runs out of memory); the request is given up
// before the result is kept.
JsonPtr handlerResponse(Handler handler, HostState& host, JsonPtr request);

// "GetDataPackage": the next piece of the kept result.
JsonPtr nextPieceResponse(HostState& host, JsonPtr request);

}  // namespace orva::native_host
