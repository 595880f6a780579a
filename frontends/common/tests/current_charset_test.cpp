// The charset setting's store and the three front ends' rules.

#include "current_charset.h"

#include <gtest/gtest.h>

#include <string>

#include "win32/codepage.h"

namespace orva::frontend {
namespace {

TEST(CurrentCharset, StartsAsGbkAndKeepsAtMost63Characters) {
    CurrentCharset charset;
    EXPECT_EQ(charset.name(), "GBK");
    EXPECT_TRUE(charset.store("UTF-8"));
    EXPECT_EQ(charset.name(), "UTF-8");
    const std::string longest(63, 'x');
    EXPECT_TRUE(charset.store(longest));
    EXPECT_EQ(charset.name(), longest);
    EXPECT_FALSE(charset.store(std::string(64, 'y')));
    EXPECT_EQ(charset.name(), longest);
    EXPECT_FALSE(charset.store(std::string("GB\0K", 4)));
    EXPECT_TRUE(charset.store(""));
    EXPECT_EQ(charset.name(), "");
}

TEST(CharsetRules, HostPassesUtf8ForAnyNameHoldingItInAnyCase) {
    for (const char* name : {"UTF-8", "utf-8", "Utf-8", "xUTF-8y"}) {
        EXPECT_EQ(hostTextTreatment(name), TextTreatment::asReceived) << name;
    }
    for (const char* name : {"GBK", "GB18030", "gbk", "UTF8", "", "xyz"}) {
        EXPECT_EQ(hostTextTreatment(name), TextTreatment::toGb18030) << name;
    }
}

TEST(CharsetRules, PluginConvertsForGbkAndGb18030InAnyCase) {
    for (const char* name : {"GBK", "gbk", "GB18030", "gb18030"}) {
        EXPECT_EQ(pluginTextTreatment(name), TextTreatment::toGb18030) << name;
    }
    for (const char* name : {"UTF-8", "GBKX", "GB", "", "xyz"}) {
        EXPECT_EQ(pluginTextTreatment(name), TextTreatment::asReceived) << name;
    }
}

TEST(CharsetRules, ControlChoosesItsCodePage) {
    EXPECT_EQ(controlTextCodePage("GBK"), CP_GB18030);
    EXPECT_EQ(controlTextCodePage("gb18030"), CP_GB18030);
    EXPECT_EQ(controlTextCodePage("CP_ACP"), CP_ACP);
    EXPECT_EQ(controlTextCodePage("utf-8"), CP_UTF8);
    EXPECT_EQ(controlTextCodePage("anything"), CP_UTF8);
}

}  // namespace
}  // namespace orva::frontend
