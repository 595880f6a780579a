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

// --- UTF-8 -------------------------------------------------------------------

TEST(CodepageUtf8, ConvertsCjkAndSupplementaryCharactersBothWays) {
    EXPECT_EQ(toWide(CP_UTF8, kTradeUtf8), kTrade);
    EXPECT_EQ(toMulti(CP_UTF8, kTrade), kTradeUtf8);
    EXPECT_EQ(toWide(CP_UTF8, "\xF0\xA0\x80\x80"), u"\xD840\xDC00");   // U+20000
    EXPECT_EQ(toMulti(CP_UTF8, u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");  // U+1F600
}

TEST(CodepageUtf8, AcceptsEveryLengthBoundary) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"\x7F", u"\x007F"},
        {"\xC2\x80", u"\x0080"},
        {"\xDF\xBF", u"\x07FF"},
        {"\xE0\xA0\x80", u"\x0800"},
        {"\xED\x9F\xBF", u"\xD7FF"},
        {"\xEE\x80\x80", u"\xE000"},
        {"\xEF\xBF\xBF", u"\xFFFF"},
        {"\xF0\x90\x80\x80", u"\xD800\xDC00"},
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toWide(CP_UTF8, c.utf8, MB_ERR_INVALID_CHARS), c.utf16);
        EXPECT_EQ(toMulti(CP_UTF8, c.utf16, WC_ERR_INVALID_CHARS), c.utf8);
    }
}

TEST(CodepageUtf8, EncodesEveryScalarValueAsIconvDoes) {
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

TEST(CodepageUtf8, EachMaximalInvalidSubpartBecomesOneReplacement) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"\x80", u"\uFFFD"},
        {"\xFF", u"\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong, 3 bytes
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // surrogate D800
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xF5\x80", u"\uFFFD\uFFFD"},
        {"\xE4\xB8"
         "A",
         u"\uFFFD"
         "A"},                          // cut short by a new character
        {"A\xF0\x9F\x98", u"A\uFFFD"},  // truncated at the end
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toWide(CP_UTF8, c.utf8), c.utf16);
        EXPECT_EQ(toWideFailure(CP_UTF8, c.utf8, MB_ERR_INVALID_CHARS), kNoTranslation);
    }
}

TEST(CodepageUtf8, UnpairedSurrogatesBecomeReplacementUnlessStrict) {
    const std::u16string cases[] = {u"a\xD800",
                                    u"\xDC00"
                                    "b",
                                    u"\xD800\xD800\xDC00", u"\xDC00\xD800"};
    const std::string expected[] = {"a\xEF\xBF\xBD",
                                    "\xEF\xBF\xBD"
                                    "b",
                                    "\xEF\xBF\xBD\xF0\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(toMulti(CP_UTF8, cases[i]), expected[i]);
        EXPECT_EQ(toMultiFailure(CP_UTF8, cases[i], WC_ERR_INVALID_CHARS), kNoTranslation);
    }
}

// --- GBK (936) ----------------------------------------------------------------

TEST(CodepageGbk, ConvertsCjkAndTheEuroSign) {
    EXPECT_EQ(toMulti(CP_GBK, kTrade), kTradeGbk);
    EXPECT_EQ(toWide(CP_GBK, kTradeGbk), kTrade);
    EXPECT_EQ(toMulti(CP_GBK, u"A\u20AC1"),
              "A\x80"
              "1");
    EXPECT_EQ(toWide(CP_GBK,
                     "A\x80"
                     "1"),
              u"A\u20AC1");
}

TEST(CodepageGbk, CharactersWithoutMappingBecomeTheDefaultChar) {
    BOOL used = TRUE;
    EXPECT_EQ(toMulti(CP_GBK, u"\u4E2D", 0, nullptr, &used), "\xD6\xD0");
    EXPECT_EQ(used, FALSE);

    used = FALSE;
    EXPECT_EQ(toMulti(CP_GBK, u"a\u00A5b", 0, nullptr, &used), "a?b");
    EXPECT_EQ(used, TRUE);
    EXPECT_EQ(toMulti(CP_GBK, u"a\u00A5b", 0, "*", nullptr), "a*b");
    // A supplementary character is one character: one default char, not two.
    EXPECT_EQ(toMulti(CP_GBK,
                      u"\xD840\xDC00"
                      "a"),
              "?a");
    // GBK has no U+FFFD, so an unpaired surrogate takes the default char too.
    used = FALSE;
    EXPECT_EQ(toMulti(CP_GBK, u"\xDC00\u4E2D", 0, "#", &used), "#\xD6\xD0");
    EXPECT_EQ(used, TRUE);
}

TEST(CodepageGbk, BadOrTruncatedSequenceConsumesOneByte) {
    EXPECT_EQ(toWide(CP_GBK,
                     "\xFF"
                     "a"),
              u"\uFFFD"
              "a");
    EXPECT_EQ(toWide(CP_GBK, "\xD6\x30"),
              u"\uFFFD"
              "0");                                  // bad trail byte is kept
    EXPECT_EQ(toWide(CP_GBK, "a\xD6"), u"a\uFFFD");  // lead byte at the end
    EXPECT_EQ(toWideFailure(CP_GBK, "a\xD6", MB_ERR_INVALID_CHARS), kNoTranslation);
    EXPECT_EQ(toWideFailure(CP_GBK, "\xFF", MB_ERR_INVALID_CHARS), kNoTranslation);
}

TEST(CodepageGbk, TakesOnlyTheFlagsWindowsTakes) {
    EXPECT_EQ(toMultiFailure(CP_GBK, u"a", WC_ERR_INVALID_CHARS), kBadFlags);
    EXPECT_EQ(toMulti(CP_GBK, u"a\u00A5", WC_NO_BEST_FIT_CHARS), "a?");
}

// --- GB18030 (54936) --------------------------------------------------------------

TEST(CodepageGb18030, ConvertsTwoAndFourByteSequences) {
    const struct {
        std::string gb;
        std::u16string utf16;
    } cases[] = {
        {kTradeGbk, kTrade},
        {"\xA2\xE3", u"\u20AC"},          // euro: two bytes, unlike GBK
        {"\x81\x30\x81\x30", u"\u0080"},  // first four-byte sequence
        {"\x81\x30\x84\x36", u"\u00A5"},
        {"\x84\x31\xA4\x37", u"\uFFFD"},
        {"\x90\x30\x81\x30", u"\xD800\xDC00"},  // U+10000
        {"\x95\x32\x82\x36", u"\xD840\xDC00"},  // U+20000
        {"\x94\x39\xFC\x36", u"\xD83D\xDE00"},  // U+1F600
        {"\xE3\x32\x9A\x35", u"\xDBFF\xDFFF"},  // U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toMulti(CP_GB18030, c.utf16, WC_ERR_INVALID_CHARS), c.gb);
        EXPECT_EQ(toWide(CP_GB18030, c.gb, MB_ERR_INVALID_CHARS), c.utf16);
    }
}

TEST(CodepageGb18030, EveryCharacterOutsidePrivateUseRoundTrips) {
    // Long enough to cross every internal chunk boundary many times.
    const std::u16string all = allScalarValues(false);
    EXPECT_EQ(toWide(CP_GB18030, toMulti(CP_GB18030, all, WC_ERR_INVALID_CHARS)), all);
}

TEST(CodepageGb18030, BadOrTruncatedSequenceConsumesOneByte) {
    EXPECT_EQ(toWide(CP_GB18030,
                     "\x80"
                     "a"),
              u"\uFFFD"
              "a");
    EXPECT_EQ(toWide(CP_GB18030, "a\x81\x30\x81"),
              u"a\uFFFD"
              "0\uFFFD");
    // Past U+10FFFF: well formed, but maps to nothing.
    EXPECT_EQ(toWide(CP_GB18030, "\xE3\x32\x9A\x36"),
              u"\uFFFD"
              "2\uFFFD"
              "6");
    EXPECT_EQ(toWideFailure(CP_GB18030, "\xE3\x32\x9A\x36", MB_ERR_INVALID_CHARS), kNoTranslation);
    EXPECT_EQ(toWideFailure(CP_GB18030, "a\x81\x30", MB_ERR_INVALID_CHARS), kNoTranslation);
}

TEST(CodepageGb18030, UnpairedSurrogateBecomesReplacementUnlessStrict) {
    EXPECT_EQ(toMulti(CP_GB18030, u"a\xD800"), "a\x84\x31\xA4\x37");
    EXPECT_EQ(toMultiFailure(CP_GB18030, u"a\xD800", WC_ERR_INVALID_CHARS), kNoTranslation);
}

TEST(CodepageGb18030, RefusesDefaultCharArguments) {
    char out[8];
    BOOL used = FALSE;
    for (const UINT codePage : {CP_UTF8, CP_GB18030}) {
        EXPECT_EQ(failure(WideCharToMultiByte(codePage, 0, u"a", 1, out, 8, "?", nullptr)),
                  kBadParameter);
        EXPECT_EQ(failure(WideCharToMultiByte(codePage, 0, u"a", 1, out, 8, nullptr, &used)),
                  kBadParameter);
    }
}

// --- lengths and buffers ---------------------------------------------------------

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
    char16_t wide[8];
    char multi[8];
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 8)), kBadParameter);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, "a", -2, wide, 8)), kBadParameter);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, "a", 1, wide, -1)), kBadParameter);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, nullptr, 1, wide, 8)), kBadParameter);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 8)), kBadParameter);
    EXPECT_EQ(failure(WideCharToMultiByte(CP_UTF8, 0, u"a", 0, multi, 8, nullptr, nullptr)),
              kBadParameter);
    EXPECT_EQ(failure(WideCharToMultiByte(CP_UTF8, 0, u"a", -7, multi, 8, nullptr, nullptr)),
              kBadParameter);
    EXPECT_EQ(failure(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, multi, -1, nullptr, nullptr)),
              kBadParameter);
    EXPECT_EQ(failure(WideCharToMultiByte(CP_UTF8, 0, nullptr, 1, multi, 8, nullptr, nullptr)),
              kBadParameter);
    EXPECT_EQ(failure(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, nullptr, 8, nullptr, nullptr)),
              kBadParameter);
}

TEST(CodepageLengths, SameBufferForInputAndOutputIsRefused) {
    alignas(char16_t) char buffer[16] = "abc";
    auto* wide = reinterpret_cast<char16_t*>(buffer);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_UTF8, 0, buffer, -1, wide, 8)), kBadParameter);
    EXPECT_EQ(failure(MultiByteToWideChar(CP_GBK, 0, buffer + 4, 3, wide, 8)), kBadParameter);
    EXPECT_EQ(failure(WideCharToMultiByte(CP_UTF8, 0, wide, 2, buffer + 2, 4, nullptr, nullptr)),
              kBadParameter);
}

// --- code pages and flags ------------------------------------------------------

TEST(CodepageSupport, UnsupportedCodePageIsAnInvalidParameter) {
    for (const UINT codePage : {1u, 437u, 1252u, 20936u, 65000u}) {
        EXPECT_EQ(toWideFailure(codePage, "a"), kBadParameter);
        EXPECT_EQ(toMultiFailure(codePage, u"a"), kBadParameter);
    }
}

TEST(CodepageSupport, UnknownFlagsAreRefused) {
    for (const UINT codePage : {CP_UTF8, CP_GBK, CP_GB18030}) {
        EXPECT_EQ(toWideFailure(codePage, "a", 0x1 /* precomposed */), kBadFlags);
        EXPECT_EQ(toWideFailure(codePage, "a", WC_ERR_INVALID_CHARS), kBadFlags);
        EXPECT_EQ(toMultiFailure(codePage, u"a", MB_ERR_INVALID_CHARS), kBadFlags);
    }
    EXPECT_EQ(toMultiFailure(CP_UTF8, u"a", WC_NO_BEST_FIT_CHARS), kBadFlags);
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
