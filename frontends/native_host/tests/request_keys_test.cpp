// Reading numbers and key classes out of a request.

#include "request_keys.h"

#include <gtest/gtest.h>

#include <string>

#include "host_test_support.h"

namespace orva::native_host {
namespace {

using test::Json;
using test::parseJson;

std::optional<std::int32_t> readInt(const std::string& value) {
    const Json json = parseJson(value);
    std::int32_t out = 0;
    if (!json || !readJsonInt(json.get(), out)) {
        return std::nullopt;
    }
    return out;
}

TEST(ReadJsonInt, NumbersAreTruncatedTowardZero) {
    EXPECT_EQ(readInt("4096"), 4096);
    EXPECT_EQ(readInt("4096.7"), 4096);
    EXPECT_EQ(readInt("-4096.7"), -4096);
    EXPECT_EQ(readInt("-0.5"), 0);
    EXPECT_EQ(readInt("2147483647"), 2147483647);
    EXPECT_EQ(readInt("-2147483648"), -2147483647 - 1);
}

TEST(ReadJsonInt, DigitStringsOnly) {
    EXPECT_EQ(readInt("\"4096\""), 4096);
    EXPECT_EQ(readInt("\"0007\""), 7);
    EXPECT_EQ(readInt("\"2147483647\""), 2147483647);
    for (const char* bad : {"\"+1\"", "\"-1\"", "\" 1\"", "\"1 \"", "\"1.0\"", "\"\"", "\"1e3\""}) {
        EXPECT_FALSE(readInt(bad)) << bad;
    }
}

TEST(ReadJsonInt, ValuesOutsideTheIntRangeAreUnusable) {
    for (const char* bad : {"2147483648", "-2147483649", "1e10", "1e400", "-1e400",
                            "\"2147483648\"", "\"99999999999999999999999\""}) {
        EXPECT_FALSE(readInt(bad)) << bad;
    }
    for (const char* bad : {"true", "null", "[]", "{}"}) {
        EXPECT_FALSE(readInt(bad)) << bad;
    }
}

TEST(IsAllDigits, NeedsAtLeastOneDigitAndNothingElse) {
    EXPECT_TRUE(isAllDigits("0"));
    EXPECT_TRUE(isAllDigits("0123456789"));
    EXPECT_FALSE(isAllDigits(""));
    EXPECT_FALSE(isAllDigits(nullptr));
    EXPECT_FALSE(isAllDigits("12a"));
}

TEST(RequestKeys, TheFirstFailureDecidesAndLaterKeysAreNotRead) {
    frontend::CurrentCharset charset;
    const Json request = parseJson(R"({"a":"x","b":""})");
    RequestKeys keys(request.get(), charset);
    EXPECT_TRUE(keys.text("a"));
    EXPECT_FALSE(keys.text("b"));
    EXPECT_EQ(keys.failure(), kInvalidParameter);
    EXPECT_FALSE(keys.string("a"));
    EXPECT_EQ(keys.failure(), kInvalidParameter);
}

TEST(RequestKeys, CharsetTextsConvertOrAnswer307) {
    frontend::CurrentCharset charset;
    const Json request = parseJson("{\"ok\":\"\xc3\xa9\",\"bad\":\"\xc3\"}");
    RequestKeys keys(request.get(), charset);
    const std::optional<ArgumentText> ok = keys.charsetText("ok");
    ASSERT_TRUE(ok);
    EXPECT_EQ(std::string(ok->get()), "\xa8\xa6");
    EXPECT_EQ(ok->length(), 2u);
    EXPECT_EQ(ok->charsetCount(), 3u);
    EXPECT_FALSE(keys.charsetText("bad"));
    EXPECT_EQ(keys.failure(), kMallocFailed);

    charset.store("UTF-8");
    RequestKeys utf8(request.get(), charset);
    const std::optional<ArgumentText> same = utf8.charsetText("OK");
    ASSERT_TRUE(same);
    EXPECT_EQ(std::string(same->get()), "\xc3\xa9");
    EXPECT_EQ(same->charsetCount(), 2u);
    // UTF-8 passes as received, checked or not: the library takes the bytes.
    EXPECT_TRUE(utf8.charsetText("bad"));
}

TEST(RequestKeys, PresentAndPathPassNullForOtherTypes) {
    frontend::CurrentCharset charset;
    const Json request = parseJson(R"({"n":1,"s":"v","e":""})");
    RequestKeys keys(request.get(), charset);
    EXPECT_EQ(keys.present("n"), std::optional<const char*>(nullptr));
    EXPECT_STREQ(*keys.present("s"), "v");
    EXPECT_EQ(keys.path("n")->get(), nullptr);
    EXPECT_EQ(keys.path("e")->get(), nullptr);
    EXPECT_STREQ(keys.path("s")->get(), "v");
    EXPECT_FALSE(keys.failed());
    EXPECT_FALSE(keys.path("missing"));
    EXPECT_EQ(keys.failure(), kInvalidParameter);
}

}  // namespace
}  // namespace orva::native_host
