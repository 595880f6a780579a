#pragma once

// Owners for cJSON trees and the texts cJSON prints. Users link libcjson.

#include <cjson/cJSON.h>

#include <memory>

namespace orva {

struct JsonDelete {
    void operator()(cJSON* item) const noexcept { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDelete>;

struct JsonTextFree {
    void operator()(char* text) const noexcept { cJSON_free(text); }
};
using JsonText = std::unique_ptr<char, JsonTextFree>;

}  // namespace orva
