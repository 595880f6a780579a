// The stand-in browser as a program, over the real token API library and a
// software key registered by orva-setup. A page's calls through the plug-in
// are the conformance table's (frontends/conformance/).

#include "plugin_test_support.h"

namespace orva::npapi_plugin::test {
namespace {

using orva::testing::CommandResult;
using orva::testing::shellQuote;

TEST(SoftkeyPluginTest, TheStandInBrowserProgramCallsOneMethod) {
    TestFolder folder;
    folder.setEnv("ORVA_REGISTRY", (folder.root() / "registry.reg").string());
    folder.setEnv("ORVA_SOFTKEY_DIR", (folder.root() / "softkey").string());
    folder.setEnv("TMPDIR", folder.root().string());
    const auto run = [&folder](const std::string& command) {
        return orva::testing::runCommand(
            "cd " + shellQuote(folder.root().string()) + " && export PATH=" +
            shellQuote(frontend::test::binFolder().string()) + ":\"$PATH\" && " + command);
    };
    ASSERT_EQ(run("orva-setup register && softkey create --sn SK0000000001").status, 0);
    const std::string plugin = shellQuote(pluginPath());
    const CommandResult serial = run("npapi-host " + plugin + " GetMediaID");
    EXPECT_EQ(serial.status, 0);
    EXPECT_EQ(serial.output, "NP_Initialize() called\nNPAPI LoadLib_Log failed\nSK0000000001\n");
    const CommandResult refused = run("npapi-host " + plugin + " GMGetPublicKey 5");
    EXPECT_EQ(refused.status, 0);
    EXPECT_NE(refused.output.find("\n-106\n"), std::string::npos) << refused.output;
    EXPECT_EQ(run("npapi-host " + plugin + " NoSuchMethod").status, 2);
    EXPECT_EQ(
        run("npapi-host " + shellQuote((frontend::test::binFolder() / "libplatform.so").string()) +
            " GetMediaID")
            .status,
        1);
}

}  // namespace
}  // namespace orva::npapi_plugin::test
