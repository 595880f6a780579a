// MultiByteToWideChar / WideCharToMultiByte / GetACP through the exports of
// libplatform.so. Expected GBK and GB18030 bytes were checked with iconv(1).

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win32/codepage.h"
#include "win32/errors.h"

namespace {

constexpr DWORD kBadParameter = ERROR_INVALID_PARAMETER;
constexpr DWORD kBadFlags = ERROR_INVALID_FLAGS;
constexpr DWORD kTooSmall = ERROR_INSUFFICIENT_BUFFER;
constexpr DWORD kNoTranslation = ERROR_NO_UNICODE_TRANSLATION;

const std::string kTradeUtf8 = "\xE4\xB8\xAD\xE6\x96\x87\xE4\xBA\xA4\xE6\x98\x93";  // 中文交易
const std::string kTradeGbk = "\xD6\xD0\xCE\xC4\xBD\xBB\xD2\xD7";
const std::u16string kTrade = u"\u4E2D\u6587\u4EA4\u6613";

// Size query, then conversion into a buffer of exactly that size.
std::u16string toWide(UINT codePage, std::string_view in, DWORD flags = 0) {
    const int size = static_cast<int>(in.size());
    const int needed = MultiByteToWideChar(codePage, flags, in.data(), size, nullptr, 0);
    EXPECT_GT(needed, 0) << "error " << GetLastError();
    if (needed <= 0) {
        return u"<failed>";
    }
    std::u16string out(static_cast<std::size_t>(needed), u'\0');
    EXPECT_EQ(MultiByteToWideChar(codePage, flags, in.data(), size, out.data(), needed), needed);
    return out;
}

std::string toMulti(UINT codePage, std::u16string_view in, DWORD flags = 0,
                    LPCSTR defaultChar = nullptr, LPBOOL usedDefault = nullptr) {
    const int size = static_cast<int>(in.size());
    const int needed =
        WideCharToMultiByte(codePage, flags, in.data(), size, nullptr, 0, defaultChar, usedDefault);
    EXPECT_GT(needed, 0) << "error " << GetLastError();
    if (needed <= 0) {
        return "<failed>";
    }
    std::string out(static_cast<std::size_t>(needed), '\0');
    EXPECT_EQ(WideCharToMultiByte(codePage, flags, in.data(), size, out.data(), needed, defaultChar,
                                  usedDefault),
              needed);
    return out;
}

// The last error after a call that must fail.
DWORD failure(int result) {
    EXPECT_EQ(result, 0);
    return GetLastError();
}

DWORD toWideFailure(UINT codePage, std::string_view in, DWORD flags = 0) {
    return failure(
        MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()), nullptr, 0));
}

DWORD toMultiFailure(UINT codePage, std::u16string_view in, DWORD flags = 0) {
    return failure(WideCharToMultiByte(codePage, flags, in.data(), static_cast<int>(in.size()),
                                       nullptr, 0, nullptr, nullptr));
}

// All Unicode scalar values, in order, as UTF-16.
std::u16string allScalarValues(bool withPrivateUse) {
    std::u16string text;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if ((cp >= 0xD800 && cp <= 0xDFFF) || (!withPrivateUse && cp >= 0xE000 && cp <= 0xF8FF)) {
            continue;
        }
        if (cp < 0x10000) {
            text += static_cast<char16_t>(cp);
        } else {
            text += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    return text;
}

struct Pair {
    UINT codePage;
    std::string multi;
    std::u16string wide;
};

TEST(Codepage, ValidTextConvertsBothWaysLenientAndStrict) {
    const Pair cases[] = {
        {CP_UTF8, kTradeUtf8, kTrade},
        {CP_UTF8, "\xF0\xA0\x80\x80", u"\xD840\xDC00"},  // U+20000
        {CP_UTF8, "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},  // U+1F600
        {CP_UTF8, "\x7F", u"\x007F"},
        {CP_UTF8, "\xC2\x80", u"\x0080"},
        {CP_UTF8, "\xDF\xBF", u"\x07FF"},
        {CP_UTF8, "\xE0\xA0\x80", u"\x0800"},
        {CP_UTF8, "\xED\x9F\xBF", u"\xD7FF"},
        {CP_UTF8, "\xEE\x80\x80", u"\xE000"},
        {CP_UTF8, "\xEF\xBF\xBF", u"\xFFFF"},
        {CP_UTF8, "\xF0\x90\x80\x80", u"\xD800\xDC00"},
        {CP_UTF8, "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
        {CP_GBK, kTradeGbk, kTrade},
        {CP_GBK, "A\x80\x31", u"A\u20AC1"},  // euro: one byte
        {CP_GB18030, kTradeGbk, kTrade},
        {CP_GB18030, "\xA2\xE3", u"\u20AC"},          // euro: two bytes, unlike GBK
        {CP_GB18030, "\x81\x30\x81\x30", u"\u0080"},  // first four-byte sequence
        {CP_GB18030, "\x81\x30\x84\x36", u"\u00A5"},
        {CP_GB18030, "\x84\x31\xA4\x37", u"\uFFFD"},
        {CP_GB18030, "\x90\x30\x81\x30", u"\xD800\xDC00"},  // U+10000
        {CP_GB18030, "\x95\x32\x82\x36", u"\xD840\xDC00"},  // U+20000
        {CP_GB18030, "\x94\x39\xFC\x36", u"\xD83D\xDE00"},  // U+1F600
        {CP_GB18030, "\xE3\x32\x9A\x35", u"\xDBFF\xDFFF"},  // U+10FFFF
    };
    for (const Pair& c : cases) {
        SCOPED_TRACE(testing::Message() << c.codePage << " " << testing::PrintToString(c.multi));
        EXPECT_EQ(toWide(c.codePage, c.multi), c.wide);
        EXPECT_EQ(toWide(c.codePage, c.multi, MB_ERR_INVALID_CHARS), c.wide);
        EXPECT_EQ(toMulti(c.codePage, c.wide), c.multi);
        if (c.codePage != CP_GBK) {  // GBK refuses WC_ERR_INVALID_CHARS
            EXPECT_EQ(toMulti(c.codePage, c.wide, WC_ERR_INVALID_CHARS), c.multi);
        }
    }
}

TEST(Codepage, Utf8EncodesEveryScalarValueAsIconvDoes) {
    const std::u16string all = allScalarValues(true);
    std::string expected(all.size() * 3, '\0');
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(all.data()));
    std::size_t inLeft = all.size() * sizeof(char16_t);
    char* out = expected.data();
    std::size_t outLeft = expected.size();
    ASSERT_EQ(iconv(cd, &in, &inLeft, &out, &outLeft), 0u);
    iconv_close(cd);
    expected.resize(expected.size() - outLeft);

    EXPECT_EQ(toMulti(CP_UTF8, all, WC_ERR_INVALID_CHARS), expected);
    EXPECT_EQ(toWide(CP_UTF8, expected, MB_ERR_INVALID_CHARS), all);
}

TEST(Codepage, Gb18030EveryCharacterOutsidePrivateUseRoundTrips) {
    // Long enough to cross every internal chunk boundary many times.
    const std::u16string all = allScalarValues(false);
    EXPECT_EQ(toWide(CP_GB18030, toMulti(CP_GB18030, all, WC_ERR_INVALID_CHARS)), all);
}

// UTF-8: each maximal invalid subpart is one U+FFFD. GBK and GB18030: a bad or
// truncated sequence consumes one byte.
TEST(Codepage, InvalidBytesBecomeReplacementUnlessStrict) {
    const Pair cases[] = {
        {CP_UTF8, "\x80", u"\uFFFD"},
        {CP_UTF8, "\xFF", u"\uFFFD"},
        {CP_UTF8, "\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
        {CP_UTF8, "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong, 3 bytes
        {CP_UTF8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // surrogate D800
        {CP_UTF8, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {CP_UTF8, "\xF5\x80", u"\uFFFD\uFFFD"},
        {CP_UTF8, "\xE4\xB8\x41", u"\uFFFDA"},   // cut short by a new character
        {CP_UTF8, "A\xF0\x9F\x98", u"A\uFFFD"},  // truncated at the end
        {CP_UTF8, "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
        {CP_GBK, "\xFF", u"\uFFFD"},
        {CP_GBK, "\xFF\x61", u"\uFFFDa"},
        {CP_GBK, "\xD6\x30", u"\uFFFD\x30"},  // bad trail byte is kept
        {CP_GBK, "a\xD6", u"a\uFFFD"},        // lead byte at the end
        {CP_GB18030, "\x80\x61", u"\uFFFDa"},
        {CP_GB18030, "a\x81\x30", u"a\uFFFD\x30"},
        {CP_GB18030, "a\x81\x30\x81", u"a\uFFFD\x30\uFFFD"},
        {CP_GB18030, "\xE3\x32\x9A\x36", u"\uFFFD\x32\uFFFD\x36"},  // past U+10FFFF
    };
    for (const Pair& c : cases) {
        SCOPED_TRACE(testing::Message() << c.codePage << " " << testing::PrintToString(c.multi));
        EXPECT_EQ(toWide(c.codePage, c.multi), c.wide);
        EXPECT_EQ(toWideFailure(c.codePage, c.multi, MB_ERR_INVALID_CHARS), kNoTranslation);
    }
}

TEST(Codepage, UnpairedSurrogatesBecomeReplacementUnlessStrict) {
    const Pair cases[] = {
        {CP_UTF8, "a\xEF\xBF\xBD", u"a\xD800"},
        {CP_UTF8, "\xEF\xBF\xBD\x62", u"\xDC00\x62"},
        {CP_UTF8, "\xEF\xBF\xBD\xF0\x90\x80\x80", u"\xD800\xD800\xDC00"},
        {CP_UTF8, "\xEF\xBF\xBD\xEF\xBF\xBD", u"\xDC00\xD800"},
        {CP_GB18030, "a\x84\x31\xA4\x37", u"a\xD800"},
    };
    for (const Pair& c : cases) {
        SCOPED_TRACE(testing::Message() << c.codePage << " " << testing::PrintToString(c.multi));
        EXPECT_EQ(toMulti(c.codePage, c.wide), c.multi);
        EXPECT_EQ(toMultiFailure(c.codePage, c.wide, WC_ERR_INVALID_CHARS), kNoTranslation);
    }
}

TEST(Codepage, GbkCharactersWithoutMappingBecomeTheDefaultChar) {
    const struct {
        std::u16string in;
        LPCSTR defaultChar;
        std::string out;
        std::optional<BOOL> used;  // nullopt: no usedDefault pointer
    } cases[] = {
        {u"\u4E2D", nullptr, "\xD6\xD0", FALSE},
        {u"a\u00A5b", nullptr, "a?b", TRUE},
        {u"a\u00A5b", "*", "a*b", std::nullopt},
        // A supplementary character is one character: one default char, not two.
        {u"\xD840\xDC00\x61", nullptr, "?a", std::nullopt},
        // GBK has no U+FFFD, so an unpaired surrogate takes the default char too.
        {u"\xDC00\u4E2D", "#", "#\xD6\xD0", TRUE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.out));
        BOOL used = c.used ? !*c.used : FALSE;
        EXPECT_EQ(toMulti(CP_GBK, c.in, 0, c.defaultChar, c.used ? &used : nullptr), c.out);
        if (c.used) {
            EXPECT_EQ(used, *c.used);
        }
    }
}

TEST(Codepage, Utf8AndGb18030RefuseDefaultCharArguments) {
    char out[8];
    BOOL used = FALSE;
    for (const UINT codePage : {CP_UTF8, CP_GB18030}) {
        EXPECT_EQ(failure(WideCharToMultiByte(codePage, 0, u"a", 1, out, 8, "?", nullptr)),
                  kBadParameter);
        EXPECT_EQ(failure(WideCharToMultiByte(codePage, 0, u"a", 1, out, 8, nullptr, &used)),
                  kBadParameter);
    }
}

TEST(CodepageLengths, MinusOneConvertsAndCountsTheNul) {
    char16_t wide[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE4\xB8\xAD", -1, nullptr, 0), 2);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE4\xB8\xAD", -1, wide, 4), 2);
    EXPECT_EQ(std::u16string_view(wide, 3), std::u16string_view(u"\u4E2D\0x", 3));
    EXPECT_EQ(MultiByteToWideChar(CP_GBK, 0, "", -1, wide, 4), 1);

    char multi[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(CP_GBK, 0, u"\u4E2D", -1, multi, 4, nullptr, nullptr), 3);
    EXPECT_EQ(std::string_view(multi, 4), std::string_view("\xD6\xD0\0x", 4));
    EXPECT_EQ(WideCharToMultiByte(CP_GB18030, 0, u"", -1, nullptr, 0, nullptr, nullptr), 1);
}

TEST(CodepageLengths, SizeQueryIgnoresTheOutputPointer) {
    char16_t wide[2] = {u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_GB18030, 0, kTradeGbk.data(), 8, wide, 0), 4);
    EXPECT_EQ(wide[0], u'x');
    char multi[2] = {'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, kTrade.data(), 4, multi, 0, nullptr, nullptr), 12);
    EXPECT_EQ(multi[0], 'x');
}

TEST(CodepageLengths, OneUnitShortFailsWithoutWritingPastTheCount) {
    for (const UINT codePage : {CP_UTF8, CP_GBK, CP_GB18030}) {
        SCOPED_TRACE(codePage);
        const std::u16string text = u"ab\u4E2D";
        const std::string multi = toMulti(codePage, text);

        std::vector<char16_t> wide(text.size() + 1, u'#');
        const int wideCount = static_cast<int>(text.size());
        EXPECT_EQ(
            failure(MultiByteToWideChar(codePage, 0, multi.data(), -1, wide.data(), wideCount)),
            kTooSmall);
        EXPECT_EQ(wide.back(), u'#');

        std::vector<char> bytes(multi.size() + 1, '#');
        const int byteCount = static_cast<int>(multi.size());
        EXPECT_EQ(failure(WideCharToMultiByte(codePage, 0, text.data(), -1, bytes.data(), byteCount,
                                              nullptr, nullptr)),
                  kTooSmall);
        EXPECT_EQ(bytes.back(), '#');
    }
}

TEST(CodepageLengths, NeverWritesHalfACharacter) {
    char16_t wide[3] = {u'#', u'#', u'#'};
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, "a\xF0\x9F\x98\x80", 5, wide, 2)), kTooSmall);
    EXPECT_EQ(wide[1], u'#');

    char multi[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(failure(WideCharToMultiByte(CP_GB18030, 0, u"\u00A5", 1, multi, 3, nullptr, nullptr)),
              kTooSmall);
    EXPECT_EQ(std::string_view(multi, 4), "####");
}

TEST(CodepageLengths, BadLengthsAndPointersAreInvalidParameters) {
    const struct {
        int inLength;
        bool nullIn;
        bool nullOut;
        int outLength;
    } cases[] = {
        {0, false, false, 8},  {-2, false, false, 8}, {-7, false, false, 8},
        {1, false, false, -1}, {1, true, false, 8},   {1, false, true, 8},
    };
    char16_t wide[8];
    char multi[8];
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inLength << c.nullIn << c.nullOut << c.outLength);
        EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, c.nullIn ? nullptr : "a", c.inLength,
                                              c.nullOut ? nullptr : wide, c.outLength)),
                  kBadParameter);
        EXPECT_EQ(failure(WideCharToMultiByte(CP_UTF8, 0, c.nullIn ? nullptr : u"a", c.inLength,
                                              c.nullOut ? nullptr : multi, c.outLength, nullptr,
                                              nullptr)),
                  kBadParameter);
    }
}

TEST(CodepageLengths, SameBufferForInputAndOutputIsRefused) {
    alignas(char16_t) char buffer[16] = "abc";
    auto* wide = reinterpret_cast<char16_t*>(buffer);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, buffer, -1, wide, 8)), kBadParameter);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_GBK, 0, buffer + 4, 3, wide, 8)), kBadParameter);
    EXPECT_EQ(failure(WideCharToMultiByte(CP_UTF8, 0, wide, 2, buffer + 2, 4, nullptr, nullptr)),
              kBadParameter);
}

TEST(CodepageSupport, UnsupportedCodePageIsAnInvalidParameter) {
    for (const UINT codePage : {1u, 437u, 1252u, 20936u, 65000u}) {
        EXPECT_EQ(toWideFailure(codePage, "a"), kBadParameter);
        EXPECT_EQ(toMultiFailure(codePage, u"a"), kBadParameter);
    }
}

TEST(CodepageSupport, OnlyTheFlagsWindowsTakesAreAccepted) {
    for (const UINT codePage : {CP_UTF8, CP_GBK, CP_GB18030}) {
        EXPECT_EQ(toWideFailure(codePage, "a", 0x1 /* precomposed */), kBadFlags);
        EXPECT_EQ(toWideFailure(codePage, "a", WC_ERR_INVALID_CHARS), kBadFlags);
        EXPECT_EQ(toMultiFailure(codePage, u"a", MB_ERR_INVALID_CHARS), kBadFlags);
    }
    EXPECT_EQ(toMultiFailure(CP_UTF8, u"a", WC_NO_BEST_FIT_CHARS), kBadFlags);
    EXPECT_EQ(toMultiFailure(CP_GBK, u"a", WC_ERR_INVALID_CHARS), kBadFlags);
    EXPECT_EQ(toMulti(CP_GBK, u"a\u00A5", WC_NO_BEST_FIT_CHARS), "a?");
}

// Each test starts with ORVA_ACP unset and leaves it as it found it.
class CodepageAnsi : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* value = std::getenv("ORVA_ACP")) {
            saved_ = value;
        }
        unsetenv("ORVA_ACP");
    }
    void TearDown() override {
        if (saved_) {
            setenv("ORVA_ACP", saved_->c_str(), 1);
        } else {
            unsetenv("ORVA_ACP");
        }
    }

  private:
    std::optional<std::string> saved_;
};

TEST_F(CodepageAnsi, FollowsOrvaAcpOnEveryCall) {
    EXPECT_EQ(GetACP(), CP_UTF8);
    EXPECT_EQ(toWide(CP_ACP, kTradeUtf8), kTrade);

    setenv("ORVA_ACP", "936", 1);
    EXPECT_EQ(GetACP(), CP_GBK);
    EXPECT_EQ(toWide(CP_ACP, kTradeGbk), kTrade);
    EXPECT_EQ(toMulti(CP_ACP, u"\u20AC\u00A5", 0, "!"), "\x80!");  // GBK takes a default char

    setenv("ORVA_ACP", "54936", 1);
    EXPECT_EQ(GetACP(), CP_GB18030);
    EXPECT_EQ(toMulti(CP_ACP, u"\u00A5"), "\x81\x30\x84\x36");
}

TEST_F(CodepageAnsi, FallsBackToUtf8WhenUnusable) {
    for (const char* value : {"", "0", "1252", "936x", " 936", "-936", "99999999999"}) {
        setenv("ORVA_ACP", value, 1);
        EXPECT_EQ(GetACP(), CP_UTF8) << '"' << value << '"';
    }
    EXPECT_EQ(toMulti(CP_ACP, u"\u00A5"), "\xC2\xA5");
}

}  // namespace
