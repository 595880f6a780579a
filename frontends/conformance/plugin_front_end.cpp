// The plug-in in the stand-in browser: a call is a method of the page's
// scriptable object, its answer a String or an Int32 code.

#include <gtest/gtest.h>

#include "front_end.h"
#include "frontend_test_support.h"
#include "plugin_session.h"
#include "stand_in_browser.h"

namespace orva::conformance {

namespace {

using npapi_host::ScriptValue;

class PluginFrontEnd : public FrontEnd {
  public:
    ~PluginFrontEnd() override {
        session_.reset();
        EXPECT_TRUE(browser_.balanced()) << "browser memory or objects left over";
    }

    std::string call(const PageCall& call) override {
        std::vector<ScriptValue> args;
        for (const PageArg& arg : call.args) {
            std::visit([&](const auto& value) { args.emplace_back(value); }, arg.value);
        }
        const npapi_host::CallResult result = session_->invoke(call.command, args);
        EXPECT_TRUE(result.invoked) << call.command;
        // Text results are Strings; codes and numbers Int32.
        if (const auto* text = std::get_if<std::string>(&result.value)) {
            return *text;
        }
        if (const auto* code = std::get_if<int32_t>(&result.value)) {
            return std::to_string(*code);
        }
        return "<" + npapi_host::printable(result.value) + ">";
    }

  private:
    npapi_host::StandInBrowser browser_;
    std::unique_ptr<npapi_host::PluginSession> session_ =
        std::make_unique<npapi_host::PluginSession>(
            browser_, (frontend::test::binFolder() / "nporva_firefox_XR.so").string());
};

}  // namespace

std::unique_ptr<FrontEnd> makePluginFrontEnd() {
    return std::make_unique<PluginFrontEnd>();
}

}  // namespace orva::conformance
