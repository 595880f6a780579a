// The native-messaging host, run over pipes: a call is one request object,
// its answer the reply's "Resp".

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <map>

#include "front_end.h"
#include "host_process.h"
#include "orva/json_ptr.h"

namespace orva::conformance {

namespace {

std::string printed(const cJSON* item) {
    char* text = cJSON_PrintUnformatted(item);
    std::string out = text != nullptr ? text : "";
    cJSON_free(text);
    return out;
}

class HostFrontEnd : public FrontEnd {
  public:
    std::string call(const PageCall& call) override {
        const JsonPtr request(cJSON_CreateObject());
        cJSON_AddStringToObject(request.get(), "CmdType", call.command.c_str());
        // A member the page leaves undefined is not in the message at all.
        for (const PageArg& arg : call.args) {
            if (const auto* text = std::get_if<std::string>(&arg.value)) {
                cJSON_AddStringToObject(request.get(), arg.key.c_str(), text->c_str());
            } else if (const auto* number = std::get_if<int32_t>(&arg.value)) {
                cJSON_AddNumberToObject(request.get(), arg.key.c_str(), *number);
            }
        }
        const std::string reply = host_.request(printed(request.get()));
        const JsonPtr parsed(cJSON_ParseWithLength(reply.data(), reply.size()));
        const cJSON* resp = cJSON_GetObjectItemCaseSensitive(parsed.get(), "Resp");
        EXPECT_TRUE(cJSON_IsString(resp)) << reply;
        return cJSON_IsString(resp) ? resp->valuestring : "<" + reply + ">";
    }

  private:
    native_host::test::HostProcess host_{std::map<std::string, std::string>{}};
};

}  // namespace

std::unique_ptr<FrontEnd> makeHostFrontEnd() {
    return std::make_unique<HostFrontEnd>();
}

}  // namespace orva::conformance
