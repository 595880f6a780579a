// The control's version text and BSTR conversions, below the methods.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bstr_text.h"
#include "file_version.h"
#include "win32/errors.h"

namespace orva::control {
namespace {

// A version block whose calls answer as a row says.
struct VersionFake {
    static inline DWORD size = 0;
    static inline BOOL readOk = FALSE;
    static inline BOOL queryOk = FALSE;
    static inline UINT queryLength = 0;
    static inline VS_FIXEDFILEINFO fixed{};

    static DWORD sizeOf(LPCSTR, LPDWORD handle) {
        *handle = 0;
        return size;
    }
    static BOOL read(LPCSTR, DWORD, DWORD, LPVOID) { return readOk; }
    static BOOL query(LPCVOID, LPCSTR, LPVOID* buffer, UINT* length) {
        *buffer = &fixed;
        *length = queryLength;
        return queryOk;
    }
};

TEST(FileVersionText, IsEmptyUnlessTheWholeFixedPartIsRead) {
    const VersionServices fake{&VersionFake::sizeOf, &VersionFake::read, &VersionFake::query};
    VersionFake::fixed.dwFileVersionMS = 0x00010002;
    VersionFake::fixed.dwFileVersionLS = 0x0003FFFF;
    constexpr UINT kWhole = sizeof(VS_FIXEDFILEINFO);
    struct Row {
        const char* why;
        DWORD size;
        BOOL read;
        BOOL query;
        UINT length;
        std::string text;
    } rows[] = {
        {"no block", 0, TRUE, TRUE, kWhole, ""},
        {"block not read", 64, FALSE, TRUE, kWhole, ""},
        {"query refused", 64, TRUE, FALSE, kWhole, ""},
        {"short answer", 64, TRUE, TRUE, kWhole - 1, ""},
        {"whole", 64, TRUE, TRUE, kWhole, "1.2.3.65535"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        VersionFake::size = row.size;
        VersionFake::readOk = row.read;
        VersionFake::queryOk = row.query;
        VersionFake::queryLength = row.length;
        EXPECT_EQ(fileVersionText("any", fake), row.text);
    }
}

TEST(BstrText, NullEmptyAndUnconvertibleTextsAreKeptApart) {
    BSTR empty = utf8ToBstr("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(utf8ToBstr(nullptr), nullptr);
    EXPECT_FALSE(bstrToCharset(empty, "UTF-8").isNull());
    EXPECT_TRUE(bstrToCharset(empty, "UTF-8").isEmpty());
    EXPECT_TRUE(bstrToCharset(nullptr, "UTF-8").isNull());
    EXPECT_TRUE(bstrToCharset(empty, "").isNull());
    SysFreeString(empty);

    // "中" is two bytes in GB18030 and three in UTF-8; a lone surrogate is no text.
    BSTR chinese = SysAllocString(u"\u4e2d");
    EXPECT_EQ(bstrToCharset(chinese, "GB18030").length(), 2u);
    EXPECT_EQ(std::strcmp(bstrToCharset(chinese, "GBK").get(), "\xd6\xd0"), 0);
    EXPECT_EQ(bstrToCharset(chinese, "Big5").length(), 3u);
    SysFreeString(chinese);
    BSTR broken = SysAllocString(u"a\xd800");
    EXPECT_TRUE(bstrToCharset(broken, "UTF-8").isNull());
    EXPECT_TRUE(bstrToAnsi(broken).isNull());
    SysFreeString(broken);

    // A BSTR of an odd byte count: its last byte is no character of the text.
    BSTR odd = SysAllocStringByteLen("a\0b", 3);
    EXPECT_EQ(std::strcmp(bstrToCharset(odd, "UTF-8").get(), "a"), 0);
    EXPECT_EQ(std::strcmp(bstrToAnsi(odd).get(), "a"), 0);
    SysFreeString(odd);
    BSTR oneByte = SysAllocStringByteLen("b", 1);
    EXPECT_TRUE(bstrToCharset(oneByte, "GBK").isEmpty());
    EXPECT_FALSE(bstrToAnsi(oneByte).isNull());
    EXPECT_TRUE(bstrToAnsi(oneByte).isEmpty());
    SysFreeString(oneByte);
}

}  // namespace
}  // namespace orva::control
