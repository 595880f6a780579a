// The settings the exports keep between calls, looked at from inside.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library_lifecycle.h"
#include "orva_api.h"
#include "process_state.h"
#include "test_environment.h"
#include "win32/module.h"

namespace orva::api {
namespace {

using test::TestEnvironment;

class Settings : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(processAttach(GetModuleHandleA(nullptr)), TRUE); }
    void TearDown() override { processDetach(); }

    TestEnvironment env_;
};

TEST_F(Settings, CharsetNamesInAnyCaseSelectTheirCharset) {
    ASSERT_EQ(QZAPI_SetCharset("utf-8"), 0);
    EXPECT_EQ(processState().apiCharset, kCharsetUtf8);
    ASSERT_EQ(QZAPI_SetCharset("Gb18030"), 0);
    EXPECT_EQ(processState().apiCharset, kCharsetGb18030);
    ASSERT_EQ(QZAPI_SetCharset("gbk"), 0);
    EXPECT_EQ(processState().apiCharset, kCharsetGbk);
}

TEST_F(Settings, ARefusedCharsetLeavesTheSettingAsItWas) {
    ASSERT_EQ(QZAPI_SetCharset("UTF-8"), 0);
    for (const char* name : {"UTF8", "utf-16", "GBK ", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(QZAPI_SetCharset(name), -106) << (name ? name : "(null)");
        EXPECT_EQ(processState().apiCharset, kCharsetUtf8);
    }
}

TEST_F(Settings, DeviceLanguageChangesEvenWhenTheKeyRefusesIt) {
    env_.plugKey("SN1");  // offers zh_CN and en_US only
    ASSERT_EQ(QZAPI_SetDevLanguage("en_us"), 0);
    EXPECT_EQ(processState().deviceLanguage, 2);
    EXPECT_EQ(QZAPI_SetDevLanguage("ja_JP"), -300);
    EXPECT_EQ(processState().deviceLanguage, 4);
    EXPECT_EQ(env_.key("SN1").language, 2);
}

TEST_F(Settings, AnUnknownLanguageLeavesTheSettingAsItWas) {
    env_.plugKey("SN1");
    ASSERT_EQ(QZAPI_SetDevLanguage("zh_CN"), 0);
    EXPECT_EQ(QZAPI_SetDevLanguage("zh-CN"), -106);
    EXPECT_EQ(processState().deviceLanguage, 1);
}

TEST_F(Settings, WarningTextIsKeptAsACopyWithItsByteLength) {
    std::string text = "\xE8\xAF\xB7\xE6\xA0\xB8\xE5\xAF\xB9";  // three UTF-8 characters
    ASSERT_EQ(QZAPI_SetWarningTips(text.c_str()), 0);
    text[0] = 'X';  // the caller's text may change afterwards
    const WarningTips& tips = processState().warningTips;
    ASSERT_NE(tips.text, nullptr);
    EXPECT_EQ(tips.length, 9);
    EXPECT_STREQ(tips.text.get(), "\xE8\xAF\xB7\xE6\xA0\xB8\xE5\xAF\xB9");
}

TEST_F(Settings, AnEmptyWarningTextIsATextNotNone) {
    ASSERT_EQ(QZAPI_SetWarningTips("first"), 0);
    ASSERT_EQ(QZAPI_SetWarningTips(""), 0);
    const WarningTips& tips = processState().warningTips;
    ASSERT_NE(tips.text, nullptr);
    EXPECT_EQ(tips.length, 0);
    EXPECT_STREQ(tips.text.get(), "");
}

TEST_F(Settings, ANullWarningTextIsRefusedAndTheOldOneKept) {
    ASSERT_EQ(QZAPI_SetWarningTips("kept"), 0);
    EXPECT_EQ(QZAPI_SetWarningTips(nullptr), -106);
    EXPECT_STREQ(processState().warningTips.text.get(), "kept");
    EXPECT_EQ(processState().warningTips.length, 4);
}

TEST(LanguageTable, NamesAndCodes) {
    EXPECT_EQ(languageCode("ZH_tw"), 3);
    EXPECT_EQ(languageCode("kk_kz"), 9);
    EXPECT_EQ(languageCode("zh_TWx"), std::nullopt);
    EXPECT_EQ(languageCode(""), std::nullopt);
    EXPECT_EQ(languageName(1), "zh_CN");
    EXPECT_EQ(languageName(9), "kk_KZ");
    EXPECT_EQ(languageName(0), "");
    EXPECT_EQ(languageName(10), "");
}

}  // namespace
}  // namespace orva::api
