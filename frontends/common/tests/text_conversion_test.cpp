// The front ends' conversions: GB18030 and GBK bytes, NUL counting, failures,
// the 936 fallback and the ANSI code page.

#include "text_conversion.h"

#include <gtest/gtest.h>

#include <string>

#include "frontend_test_support.h"
#include "win32/errors.h"

namespace orva::frontend {
namespace {

std::string bytesOf(const ConvertedText& text) {
    return std::string(text.c_str(), text.length());
}

TEST(Utf8ToGb18030, ConvertsToCodePage54936) {
    struct Case {
        const char* utf8;
        std::string gb18030;
    };
    const Case cases[] = {
        {"\xe4\xb8\xad\xe6\x96\x87", "\xd6\xd0\xce\xc4"},  // 中文
        {"\xe2\x82\xac", "\xa2\xe3"},                      // € (GBK has it at 80)
        {"\xc3\xa9", "\xa8\xa6"},                          // é
        {"\xc3\xbf", std::string("\x81\x30\x8b\x37", 4)},  // U+00FF, four bytes
        {"\xf0\x9f\x98\x80", "\x94\x39\xfc\x36"},          // U+1F600
        {"Pay 100.00", "Pay 100.00"},
    };
    for (const Case& c : cases) {
        const auto converted = utf8ToGb18030(c.utf8);
        ASSERT_TRUE(converted) << c.utf8;
        EXPECT_EQ(bytesOf(*converted), c.gb18030) << c.utf8;
        // The count includes the NUL, which is there.
        EXPECT_EQ(converted->written(), c.gb18030.size() + 1);
        EXPECT_EQ(converted->c_str()[converted->length()], '\0');
    }
}

TEST(Utf8ToGb18030, AnEmptyTextIsOneNulByte) {
    const auto converted = utf8ToGb18030("");
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->written(), 1u);
    EXPECT_EQ(converted->length(), 0u);
}

TEST(Utf8ToGb18030, FailsForNullAndForInvalidUtf8) {
    EXPECT_FALSE(utf8ToGb18030(nullptr));
    EXPECT_FALSE(utf8ToGb18030("\xff\xfe"));
    EXPECT_FALSE(utf8ToGb18030("ok \xe4\xb8"));   // a character cut short
    EXPECT_FALSE(utf8ToGb18030("\xed\xa0\x80"));  // an encoded surrogate
}

// Code page 54936 refused, as on a system without it.
int without54936(UINT codePage, DWORD flags, LPCWSTR wide, int units, LPSTR out, int size,
                 LPCSTR defaultChar, LPBOOL usedDefault) {
    if (codePage == CP_GB18030) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return WideCharToMultiByte(codePage, flags, wide, units, out, size, defaultChar, usedDefault);
}

TEST(Utf8ToGb18030, FallsBackTo936WhenThe54936SizeIsZero) {
    const CodePageServices services{&MultiByteToWideChar, &without54936};
    const auto euro = utf8ToGb18030("\xe2\x82\xac", services);
    ASSERT_TRUE(euro);
    EXPECT_EQ(bytesOf(*euro), "\x80");
    // GBK has no U+1F600: a '?' in a signed text would be a lie, so it fails.
    EXPECT_FALSE(utf8ToGb18030("\xf0\x9f\x98\x80", services));
}

TEST(Utf8ToGb18030Into, AnswersTheSizeOrWritesWithinTheCapacity) {
    const char* text = "\xe4\xb8\xad\xe6\x96\x87";
    EXPECT_EQ(utf8ToGb18030Into(text, nullptr, 0), 5u);
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(utf8ToGb18030Into(text, small, sizeof small), 0u);
    EXPECT_EQ(std::string(small, 4), "xxxx");
    char exact[5] = {};
    EXPECT_EQ(utf8ToGb18030Into(text, exact, sizeof exact), 5u);
    EXPECT_EQ(std::string(exact), "\xd6\xd0\xce\xc4");
    EXPECT_EQ(utf8ToGb18030Into(nullptr, exact, sizeof exact), 0u);
    EXPECT_EQ(utf8ToGb18030Into("\xff", exact, sizeof exact), 0u);
}

class AnsiCodePageTest : public ::testing::Test {
  protected:
    test::TestFolder folder_;
};

TEST_F(AnsiCodePageTest, Utf8AnsiCodePageRoundTripsUnchanged) {
    folder_.setEnv("ORVA_ACP", "65001");
    const char* path = "/home/\xe5\xbc\xa0/\xf0\x9f\x98\x80.txt";
    const auto ansi = utf8ToAnsi(path);
    ASSERT_TRUE(ansi);
    EXPECT_EQ(bytesOf(*ansi), path);
    const auto back = ansiToUtf8(ansi->c_str());
    ASSERT_TRUE(back);
    EXPECT_EQ(bytesOf(*back), path);
    EXPECT_FALSE(utf8ToAnsi("/bad/\xc0\xaf"));  // an overlong '/'
}

TEST_F(AnsiCodePageTest, GbkAnsiCodePageConvertsAndRefusesWhatItCannotHold) {
    folder_.setEnv("ORVA_ACP", "936");
    const auto ansi = utf8ToAnsi("/tmp/\xe4\xb8\xad\xe6\x96\x87.txt");
    ASSERT_TRUE(ansi);
    EXPECT_EQ(bytesOf(*ansi), "/tmp/\xd6\xd0\xce\xc4.txt");
    const auto back = ansiToUtf8(ansi->c_str());
    ASSERT_TRUE(back);
    EXPECT_EQ(bytesOf(*back), "/tmp/\xe4\xb8\xad\xe6\x96\x87.txt");
    // A name GBK cannot spell would name another file.
    EXPECT_FALSE(utf8ToAnsi("/tmp/\xf0\x9f\x98\x80.txt"));
    // A lead byte without its trail byte is no GBK text.
    EXPECT_FALSE(ansiToUtf8("/tmp/\xd6"));
}

}  // namespace
}  // namespace orva::frontend
