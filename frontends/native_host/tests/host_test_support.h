#pragma once

// Fixtures of the host's tests: the built host over pipes, bound to the
// stand-in token API library (whose script and call log live in the test's
// folder) or to the real one over software keys.

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fake_api_log.h"
#include "frontend_test_support.h"
#include "host_process.h"
#include "orva/json_ptr.h"

namespace orva::native_host::test {

using frontend::test::fakeApiFolder;
using frontend::test::fakeApiLackingFolder;
using frontend::test::providerRegistry;
using frontend::test::TestFolder;
namespace fs = std::filesystem;

using Json = orva::JsonPtr;

inline Json parseJson(std::string_view text) {
    return Json(cJSON_ParseWithLength(text.data(), text.size()));
}

inline std::string printJson(const cJSON* item) {
    char* text = cJSON_PrintUnformatted(item);
    std::string out = text ? text : "";
    cJSON_free(text);
    return out;
}

// A reply's "Resp" as a string; "<not a string>" otherwise.
inline std::string respOf(std::string_view reply) {
    const Json json = parseJson(reply);
    const cJSON* resp = cJSON_GetObjectItemCaseSensitive(json.get(), "Resp");
    return cJSON_IsString(resp) ? resp->valuestring : "<not a string: " + std::string(reply) + ">";
}

// The bytes of a text in lower-case hex, as the stand-in logs them.
inline std::string hex(std::string_view bytes) {
    return orva::testing::toHex(orva::testing::bytesOf(bytes));
}

// A request object from its members' JSON text: request("GetVersion", R"("a":1)").
inline std::string request(std::string_view command, std::string_view members = {}) {
    std::string text = "{\"CmdType\":\"" + std::string(command) + "\"";
    if (!members.empty()) {
        text += "," + std::string(members);
    }
    return text + "}";
}

using frontend::test::ApiCall;

// A host bound to the stand-in library; each test scripts its answers.
class FakeApiHostTest : public ::testing::Test {
  protected:
    FakeApiHostTest() {
        fs::create_directories(folder_.root() / "fake");
        folder_.write("registry.reg", providerRegistry(fakeApiFolder()));
    }

    std::map<std::string, std::string> environment() const {
        return {{"ORVA_REGISTRY", (folder_.root() / "registry.reg").string()},
                {"ORVA_FAKE_API_DIR", (folder_.root() / "fake").string()},
                {"ORVA_SOFTKEY_DIR", (folder_.root() / "softkey").string()},
                {"TMPDIR", folder_.root().string()},
                {"ORVA_ACP", acp_}};
    }

    // The host, started at first use.
    HostProcess& host() {
        if (!host_) {
            host_ = std::make_unique<HostProcess>(environment());
        }
        return *host_;
    }

    void setAnsiCodePage(std::string acp) { acp_ = std::move(acp); }
    void script(std::string_view json) { folder_.write("fake/script.json", json); }

    // Every call the library saw since the last look, oldest first.
    std::vector<ApiCall> takeCalls() {
        return frontend::test::takeFakeApiCalls(folder_, "fake/calls.log");
    }

    // The one call a request made.
    ApiCall onlyCall() {
        std::vector<ApiCall> calls = takeCalls();
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? ApiCall{} : calls.front();
    }

    std::string resp(std::string_view command, std::string_view members = {}) {
        return respOf(host().request(request(command, members)));
    }

    TestFolder folder_;
    std::string acp_ = "65001";
    std::unique_ptr<HostProcess> host_;
};

}  // namespace orva::native_host::test
