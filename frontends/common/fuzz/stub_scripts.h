#pragma once

// Answers for the recording stand-in token API library (script.json, see
// frontends/common/tests/fake_api.cpp) that the front ends' fuzz targets
// choose from: every export the same way, so any call meets them.

#include <string>
#include <string_view>
#include <vector>

#include "orva_api_exports.h"

namespace orva::fuzz {

// One script per way of answering: plain success, a failure code, texts at
// and over the buffer sizes, empty texts with sizes no library means, a size
// query that answers too little, UTF-8 beyond ASCII, and bytes that are no
// text at all.
inline std::vector<std::string> stubScripts() {
    static constexpr std::string_view kAnswers[] = {
        R"({"code":0})",
        R"({"code":-203,"sizeCode":-203})",
        R"({"length":8191,"count":2147483647})",
        R"({"length":0,"sizeLength":-1,"count":-7})",
        R"({"length":259,"sizeLength":1})",
        "{\"text\":\"CN=\xe4\xb8\xad\xe6\x96\x87,O=Bank\"}",
        "{\"text\":\"\x80\xff\xd6\xd0\xc3\"}",
    };
    std::vector<std::string> scripts;
    for (std::string_view answer : kAnswers) {
        std::string script = "{";
        for (const char* name : kApiFunctionNames) {
            if (script.size() > 1) {
                script += ',';
            }
            // Without the "QZAPI_" prefix, as the stand-in looks names up.
            script += '"' + std::string(name + 6) + "\":" + std::string(answer);
        }
        scripts.push_back(script + "}");
    }
    return scripts;
}

}  // namespace orva::fuzz
