#pragma once

// Fixtures of the plug-in's tests: the built plug-in, loaded into the test by
// the stand-in browser, bound to the recording stand-in library (script and
// call log in the test's folder). Every test ends with the browser's memory
// and objects balanced.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fake_api_log.h"
#include "frontend_test_support.h"
#include "plugin_session.h"
#include "stand_in_browser.h"

namespace orva::npapi_plugin::test {

using frontend::test::ApiCall;
using frontend::test::TestFolder;
using npapi_host::CallResult;
using npapi_host::PluginSession;
using npapi_host::ScriptValue;
using npapi_host::StandInBrowser;
namespace fs = std::filesystem;

inline std::string pluginPath() {
    return (frontend::test::binFolder() / "nporva_firefox_XR.so").string();
}

// Lower-case hex, as the stand-in library logs texts.
inline std::string hex(std::string_view bytes) {
    return orva::testing::toHex(orva::testing::bytesOf(bytes));
}

class FakeApiPluginTest : public ::testing::Test {
  protected:
    FakeApiPluginTest() {
        fs::create_directories(folder_.root() / "fake");
        folder_.write("registry.reg", frontend::test::providerRegistry(
                                          frontend::test::fakeApiFolder(), /*view32=*/false));
        folder_.setEnv("ORVA_REGISTRY", (folder_.root() / "registry.reg").string());
        folder_.setEnv("ORVA_FAKE_API_DIR", (folder_.root() / "fake").string());
        folder_.setEnv("TMPDIR", folder_.root().string());
        folder_.setEnv("ORVA_ACP", "65001");
    }
    ~FakeApiPluginTest() override {
        session_.reset();
        EXPECT_TRUE(browser_.balanced())
            << browser_.allocator().liveBlocks() << " blocks, " << browser_.liveObjects()
            << " objects, " << browser_.allocator().doubleFrees() << " double frees, "
            << browser_.allocator().foreignFrees() << " foreign frees";
    }

    PluginSession& session() {
        if (!session_) {
            session_ = std::make_unique<PluginSession>(browser_, pluginPath());
        }
        return *session_;
    }
    void script(std::string_view json) { folder_.write("fake/script.json", json); }
    std::vector<ApiCall> takeCalls() {
        return frontend::test::takeFakeApiCalls(folder_, "fake/calls.log");
    }
    CallResult call(std::string_view method, const std::vector<ScriptValue>& args = {}) {
        return session().invoke(method, args);
    }

    TestFolder folder_;
    StandInBrowser browser_;
    std::unique_ptr<PluginSession> session_;
};

}  // namespace orva::npapi_plugin::test
