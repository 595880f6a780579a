// A warning text set through each front end, then the process ends: with the
// module still loaded, or freed by a destructor during exit. Exit runs the
// modules' finalisers and detach in whatever order it has; nothing may be
// freed twice or used after it was freed.

#include <gtest/gtest.h>

#include <string>

#include "frontend_test_support.h"
#include "host_process.h"

namespace orva::frontend::test {
namespace {

struct ExitCase {
    const char* frontEnd;
    const char* exit;
    std::size_t textBytes;
};

class ExitWithText : public ::testing::Test {
  protected:
    ExitWithText() {
        const std::string root = folder_.root().string();
        folder_.setEnv("ORVA_REGISTRY", root + "/registry.reg");
        folder_.setEnv("ORVA_SOFTKEY_DIR", root + "/softkey");
        folder_.setEnv("TMPDIR", root);
        const auto setup = orva::testing::runCommand(inBin("orva-setup register"));
        EXPECT_EQ(setup.status, 0) << setup.output;
    }

    static std::string inBin(const std::string& line) {
        return "PATH=" + orva::testing::shellQuote(binFolder().string()) + ":\"$PATH\" " + line;
    }

    TestFolder folder_;
};

TEST_F(ExitWithText, EveryFrontEndEndsCleanlyWithTheModuleKeptOrFreedDuringExit) {
    // 100,000 bytes leave the heap block to mmap, where a second free faults.
    const ExitCase cases[] = {
        {"api", "kept", 3},     {"api", "freed", 3},         {"api", "freed", 100'000},
        {"plugin", "kept", 3},  {"plugin", "kept", 100'000}, {"plugin", "freed", 3},
        {"control", "kept", 3}, {"control", "freed", 3},     {"control", "freed", 100'000},
    };
    for (const ExitCase& c : cases) {
        const std::string line = inBin("exit_probe " + std::string(c.frontEnd) + " " + c.exit +
                                       " " + std::to_string(c.textBytes));
        const orva::testing::CommandResult result = orva::testing::runCommand(line);
        EXPECT_EQ(result.status, 0) << line << "\n" << result.output;
        EXPECT_EQ(result.output.find("Sanitizer"), std::string::npos) << line << result.output;
    }
}

TEST_F(ExitWithText, TheHostEndsCleanlyAtTheEndOfItsInput) {
    for (const std::size_t bytes : {std::size_t{3}, std::size_t{100'000}}) {
        native_host::test::HostProcess host({});
        const std::string reply = host.request(R"({"CmdType":"SetWarningMsg","WarningMsg":")" +
                                               std::string(bytes, 'a') + "\"}");
        EXPECT_NE(reply.find("\"0\""), std::string::npos) << reply;
        host.closeInput();
        EXPECT_EQ(host.waitExit(), 0);
    }
}

}  // namespace
}  // namespace orva::frontend::test
