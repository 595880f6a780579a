// The three front ends as a page meets them. Each checks what is particular
// to its own form of answer.

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include "com_call.h"
#include "conformance.h"
#include "host_process.h"
#include "orva/json_ptr.h"
#include "orva_result_codes.h"
#include "plugin_session.h"
#include "regsvr.h"

namespace orva::conformance {

namespace {

// A request object; a member the page leaves undefined is not in it. The
// reply's "Resp" is the text or the code, or the first piece of a result of
// 1,000,000 bytes or more, whose other pieces the page fetches.
class HostFrontEnd : public FrontEnd {
  public:
    std::string call(const PageCall& call) override {
        const JsonPtr request(cJSON_CreateObject());
        cJSON_AddStringToObject(request.get(), "CmdType", call.command.c_str());
        for (const PageArg& arg : call.args) {
            if (const auto* text = std::get_if<std::string>(&arg.value)) {
                cJSON_AddStringToObject(request.get(), arg.key.c_str(), text->c_str());
            } else if (const auto* number = std::get_if<int32_t>(&arg.value)) {
                cJSON_AddNumberToObject(request.get(), arg.key.c_str(), *number);
            }
        }
        char* printed = cJSON_PrintUnformatted(request.get());
        std::string reply = host_.request(printed);
        cJSON_free(printed);
        std::string joined;
        for (;;) {
            const JsonPtr parsed(cJSON_ParseWithLength(reply.data(), reply.size()));
            const cJSON* resp = cJSON_GetObjectItemCaseSensitive(parsed.get(), "Resp");
            if (cJSON_IsString(resp) && joined.empty()) {
                return resp->valuestring;
            }
            const cJSON* content = cJSON_GetObjectItemCaseSensitive(resp, "content");
            const cJSON* left = cJSON_GetObjectItemCaseSensitive(resp, "leftsize");
            if (!cJSON_IsString(content) || !cJSON_IsNumber(left)) {
                ADD_FAILURE() << reply.substr(0, 200);
                return reply;
            }
            joined += content->valuestring;
            if (left->valuedouble <= 0) {
                return joined;
            }
            EXPECT_EQ(joined.size() % 1'000'000, 0u) << "a piece short of 1,000,000 bytes";
            reply = host_.request(R"({"CmdType":"GetDataPackage"})");
        }
    }

  private:
    native_host::test::HostProcess host_{std::map<std::string, std::string>{}};
};

// A method of the page's scriptable object: a String on success, an Int32
// code (or number) otherwise. The browser ends balanced.
class PluginFrontEnd : public FrontEnd {
  public:
    ~PluginFrontEnd() override {
        session_.reset();
        EXPECT_TRUE(browser_.balanced()) << "browser memory or objects left";
    }

    std::string call(const PageCall& call) override {
        std::vector<npapi_host::ScriptValue> args;
        for (const PageArg& arg : call.args) {
            std::visit([&](const auto& value) { args.emplace_back(value); }, arg.value);
        }
        const npapi_host::CallResult result = session_->invoke(call.command, args);
        EXPECT_TRUE(result.invoked) << call.command;
        if (const auto* code = std::get_if<int32_t>(&result.value)) {
            return std::to_string(*code);
        }
        EXPECT_TRUE(std::holds_alternative<std::string>(result.value));
        return npapi_host::printable(result.value);
    }

  private:
    npapi_host::StandInBrowser browser_;
    std::unique_ptr<npapi_host::PluginSession> session_ =
        std::make_unique<npapi_host::PluginSession>(
            browser_, (frontend::test::binFolder() / "nporva_firefox_XR.so").string());
};

// The control, registered in the test's registry, called by name as a script
// calls it: the HRESULT is the code, the [out,retval] the result, and a
// failure's description the product's text for its code.
class ControlFrontEnd : public FrontEnd {
  public:
    ControlFrontEnd() {
        const tools::RegsvrOutcome registered =
            tools::runRegsvr({(frontend::test::binFolder() / "ORVAGM_XRUsbKey.so").string()});
        EXPECT_EQ(registered.exitCode, 0) << registered.message;
    }

    std::string call(const PageCall& call) override {
        // Typed as com-call types a script's values; "str:" keeps digits a string.
        std::vector<std::string> args;
        for (const PageArg& arg : call.args) {
            const auto* text = std::get_if<std::string>(&arg.value);
            const auto* number = std::get_if<int32_t>(&arg.value);
            args.push_back(text ? "str:" + *text : number ? std::to_string(*number) : "undefined");
        }
        const tools::CallOutcome outcome =
            tools::callByName("Orva_usbkey_ctrl.orva_usbkey", call.command, args);
        if (SUCCEEDED(outcome.hr)) {
            return outcome.result;
        }
        EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION) << outcome.step;
        EXPECT_EQ(outcome.description, resultCodeText(ApiErrorCode{outcome.scode}))
            << outcome.scode;
        return std::to_string(outcome.scode);
    }
};

}  // namespace

std::unique_ptr<FrontEnd> startFrontEnd(FrontEndKind kind) {
    switch (kind) {
        case FrontEndKind::host:
            return std::make_unique<HostFrontEnd>();
        case FrontEndKind::plugin:
            return std::make_unique<PluginFrontEnd>();
        case FrontEndKind::control:
            return std::make_unique<ControlFrontEnd>();
    }
    return nullptr;
}

}  // namespace orva::conformance
