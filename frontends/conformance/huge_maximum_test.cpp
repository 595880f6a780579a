// A page's maximum length costs no memory by itself: the plug-in (in the
// stand-in browser program) and the control (through the COM client program)
// answer a refused token asked for 2,000,000,000 bytes within a few hundred MB
// of address space, over the real token API library.

#include <gtest/gtest.h>

#include "frontend_test_support.h"
#include "orva_result_codes.h"

namespace orva::conformance {
namespace {

using orva::testing::shellQuote;

// ASan reserves its shadow as address space, so under it the bound is its
// allocator's largest block instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr const char* kBoundedMemory =
    "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_allocation_size_mb=384\" && ";
#else
constexpr const char* kBoundedMemory = "ulimit -v 393216 && ";
#endif

TEST(HugeMaximum, AHugeMaximumWithARefusedTokenCostsNoMemory) {
    frontend::test::TestFolder folder;
    folder.setEnv("ORVA_REGISTRY", (folder.root() / "registry.reg").string());
    folder.setEnv("ORVA_SOFTKEY_DIR", (folder.root() / "softkey").string());
    folder.setEnv("TMPDIR", folder.root().string());
    const std::string bin = frontend::test::binFolder().string();
    const auto run = [&](const std::string& command) {
        return orva::testing::runCommand("cd " + shellQuote(folder.root().string()) +
                                         " && export PATH=" + shellQuote(bin) + ":\"$PATH\" && " +
                                         command);
    };
    const auto module = [&](const char* name) { return shellQuote(bin + "/" + name); };
    const orva::testing::CommandResult registered =
        run("orva-setup register && orva-regsvr " + module("ORVAGM_XRUsbKey.so"));
    ASSERT_EQ(registered.status, 0) << registered.output;

    const std::string token(64, 'a');
    const std::string refused = std::to_string(kTokenInfoError.number());
    struct Row {
        const char* frontEnd;
        std::string command;
        std::string answer;
    };
    const Row rows[] = {
        {"plug-in",
         "npapi-host " + module("nporva_firefox_XR.so") + " GetSignFileContent " + token +
             " 2000000000 0",
         "\n" + refused + "\n"},
        {"control",
         "com-call Orva_usbkey_ctrl.orva_usbkey GetSignFileContent str:" + token + " 2000000000 0",
         "error " + refused + " "},
    };
    for (const Row& row : rows) {
        // A subshell, so that the bound ends with it.
        const orva::testing::CommandResult answered =
            run(std::string("(") + kBoundedMemory + row.command + ")");
        EXPECT_NE(answered.output.find(row.answer), std::string::npos)
            << row.frontEnd << ": " << answered.output;
    }
}

}  // namespace
}  // namespace orva::conformance
