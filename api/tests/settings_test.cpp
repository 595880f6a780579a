// Charset, device language and warning text through the built library.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api_library.h"
#include "orva_result_codes.h"

namespace orva::api::test {
namespace {

class SettingsExports : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    TextResult languages() { return callForText(ORVA_API_FN(api_, QZAPI_GetDevLanguageList)); }
    int setLanguage(const char* name) { return ORVA_API_FN(api_, QZAPI_SetDevLanguage)(name); }
    void keyLanguages(std::vector<std::uint8_t> codes) {
        env_.changeKey("SN1", [&](softkey::Token& t) { t.languages = codes; });
    }

    TestEnvironment env_;
    ApiLibrary api_;
};

TEST_F(SettingsExports, CharsetListIsConstantAndSized) {
    const auto getCharset = ORVA_API_FN(api_, QZAPI_GetCharset);
    std::string buffer(32, 'x');
    int length = 19;
    EXPECT_EQ(getCharset(buffer.data(), &length), kBufferTooSmall);
    EXPECT_EQ(length, 20);
    EXPECT_EQ(buffer, std::string(32, 'x'));
    length = 20;
    ASSERT_EQ(getCharset(buffer.data(), &length), kSuccess);
    EXPECT_EQ(length, 19);
    EXPECT_STREQ(buffer.c_str(), "GBK||UTF-8||GB18030");
    EXPECT_EQ(getCharset(buffer.data(), nullptr), kInvalidParameter);
    // It lists the names, not the choice.
    ASSERT_EQ(ORVA_API_FN(api_, QZAPI_SetCharset)("GB18030"), kSuccess);
    EXPECT_EQ(callForText(getCharset).text, "GBK||UTF-8||GB18030");
}

TEST_F(SettingsExports, LanguageListInTheKeysOrder) {
    env_.plugKey("SN1");
    EXPECT_EQ(languages().text, "zh_CN||en_US");
    keyLanguages({2, 12, 1});
    EXPECT_EQ(languages().text, "en_US||zh_CN");
    keyLanguages({9, 8, 7, 6, 5, 4, 3, 250, 2, 1, 2});
    EXPECT_EQ(languages().text, "kk_KZ||id_ID||de_DE||fr_FR||ru_RU||ja_JP||zh_TW||en_US");
}

TEST_F(SettingsExports, OnlyTheFirstNineCodesCount) {
    env_.plugKey("SN1");
    keyLanguages({10, 11, 12, 13, 14, 15, 16, 17, 18, 1, 2});
    const TextResult result = languages();
    EXPECT_EQ(result.code, kSuccess);
    EXPECT_EQ(result.text, "");
}

TEST_F(SettingsExports, NoKnownLanguageIsALoneNul) {
    env_.plugKey("SN1");
    keyLanguages({12});
    const auto list = ORVA_API_FN(api_, QZAPI_GetDevLanguageList);
    int length = 0;
    ASSERT_EQ(list(nullptr, &length), kSuccess);
    EXPECT_EQ(length, 1);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    ASSERT_EQ(list(buffer, &length), kSuccess);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');
}

TEST_F(SettingsExports, AnUnreadableLanguageListIsMinus313) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"fail": {"QZGetLanguageList": "0x6F00"}})");
    EXPECT_EQ(languages().code, kGetLanguageListError);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetDevLanguageList)(nullptr, nullptr), kInvalidParameter);
}

TEST_F(SettingsExports, LanguageNamesInAnyCaseLandOnTheKey) {
    env_.plugKey("SN1");
    keyLanguages({1, 2, 3});
    EXPECT_EQ(setLanguage("ZH_tw"), kSuccess);
    EXPECT_EQ(env_.key("SN1").language, 3);
    EXPECT_EQ(setLanguage("en_us"), kSuccess);
    EXPECT_EQ(env_.key("SN1").language, 2);
}

TEST_F(SettingsExports, AnUnknownLanguageOpensAndClosesTheKeyAndIsMinus106) {
    env_.plugKey("SN1");
    env_.startTrace();
    EXPECT_EQ(setLanguage("zh-TW"), kInvalidParameter);
    EXPECT_EQ(env_.trace(),
              (std::vector<std::string>{"NDEstablishContext", "NDGetSlotList", "NDOpen",
                                        "NDBeginTransaction", "QZExternAuth", "NDEndTransaction",
                                        "NDClose", "NDReleaseContext"}));
    EXPECT_EQ(env_.key("SN1").language, 1);
}

TEST_F(SettingsExports, ALanguageTheKeyRefusesIsMinus300) {
    env_.plugKey("SN1");
    EXPECT_EQ(setLanguage("kk_KZ"), kOperationFailed);
    EXPECT_EQ(env_.key("SN1").language, 1);
}

TEST_F(SettingsExports, NoLanguageNameIsRefusedWithoutTheKey) {
    env_.startTrace();
    EXPECT_EQ(setLanguage(nullptr), kInvalidParameter);
    EXPECT_EQ(setLanguage(""), kInvalidParameter);
    EXPECT_TRUE(env_.trace().empty());
    EXPECT_EQ(setLanguage("zh_CN"), kNoDevice);
}

TEST_F(SettingsExports, WarningText) {
    const auto setTips = ORVA_API_FN(api_, QZAPI_SetWarningTips);
    EXPECT_EQ(setTips(nullptr), kInvalidParameter);
    EXPECT_EQ(setTips(""), kSuccess);
    EXPECT_EQ(setTips("\xE8\xAF\xB7\xE6\xA0\xB8\xE5\xAF\xB9 the amount"), kSuccess);
}

}  // namespace
}  // namespace orva::api::test
