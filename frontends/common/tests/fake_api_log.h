#pragma once

// The stand-in library's call log, read back by the front ends' tests.

#include <cjson/cJSON.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "frontend_test_support.h"
#include "orva/json_ptr.h"

namespace orva::frontend::test {

struct ApiCall {
    std::string fn;
    std::string args;  // the arguments as a JSON array text
};

// Every call logged in folder's relative file since the last look, oldest
// first; the log is emptied.
inline std::vector<ApiCall> takeFakeApiCalls(const TestFolder& folder,
                                             const std::string& relative) {
    std::vector<ApiCall> calls;
    std::istringstream lines(folder.read(relative));
    for (std::string line; std::getline(lines, line);) {
        const JsonPtr json(cJSON_ParseWithLength(line.data(), line.size()));
        const cJSON* fn = cJSON_GetObjectItemCaseSensitive(json.get(), "fn");
        char* args = cJSON_PrintUnformatted(cJSON_GetObjectItemCaseSensitive(json.get(), "args"));
        calls.push_back({cJSON_IsString(fn) ? fn->valuestring : "", args != nullptr ? args : ""});
        cJSON_free(args);
    }
    folder.write(relative, "");
    return calls;
}

}  // namespace orva::frontend::test
