// The host's table against the shared vocabulary.

#include <gtest/gtest.h>

#include "command_set.h"
#include "commands.h"

namespace orva::native_host {
namespace {

TEST(HostCommandTable, HoldsTheHostsCommandsInTheSharedOrder) {
    auto command = hostCommands().begin();
    for (const frontend::CommandRow& row : frontend::kCommandSet) {
        if ((row.offeredBy & frontend::kHost) == 0) {
            continue;
        }
        ASSERT_NE(command, hostCommands().end());
        EXPECT_EQ(command->name, row.name);
        // Only the piece command answers the next piece.
        EXPECT_EQ(command->respond == nextPieceResponse, row.result == frontend::ResultForm::piece)
            << row.name;
        ++command;
    }
    EXPECT_EQ(command, hostCommands().end());
}

TEST(HostCommandTable, MatchesWholeNamesCaseSensitively) {
    ASSERT_NE(findHostCommand("GMUsbKeySign"), nullptr);
    ASSERT_NE(findHostCommand("GMUsbKeySignFile"), nullptr);
    EXPECT_EQ(findHostCommand("GMUsbKeySign")->name, "GMUsbKeySign");
    EXPECT_EQ(findHostCommand("GMUsbKeySignFile")->name, "GMUsbKeySignFile");
    EXPECT_EQ(findHostCommand("gmusbkeysign"), nullptr);
    EXPECT_EQ(findHostCommand("GMUsbKeySig"), nullptr);
    EXPECT_EQ(findHostCommand(""), nullptr);
}

}  // namespace
}  // namespace orva::native_host
