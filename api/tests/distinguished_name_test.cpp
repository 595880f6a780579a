// Names with RFC 4514 escapes: split only at unescaped commas, values compared
// unescaped, and a name as a page wrote it before escapes still read as then.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "distinguished_name.h"

namespace orva::api {
namespace {

// The subject of a certificate whose organisation carries a comma:
// CN="Wang Wu", O="x,CN=Zhang San".
constexpr const char* kForged = "O=x\\,CN=Zhang San,CN=Wang Wu";

TEST(DistinguishedNameItems, SplitOnlyAtUnescapedCommas) {
    const struct {
        const char* text;
        std::vector<DnItem> items;
    } cases[] = {
        {"CN=Zhang San,OU=Unit,O=Bank", {{"CN", "Zhang San"}, {"OU", "Unit"}, {"O", "Bank"}}},
        {kForged, {{"O", "x,CN=Zhang San"}, {"CN", "Wang Wu"}}},
        // An escaped backslash, then a comma that separates.
        {"CN=a\\\\,O=b", {{"CN", "a\\"}, {"O", "b"}}},
        {"CN=\\ a\\ ,OU=\\#1,O=\\+\\\"\\<\\>\\;\\=",
         {{"CN", " a "}, {"OU", "#1"}, {"O", "+\"<>;="}}},
        // Hex pairs, either case.
        {"CN=x\\2CCN=y\\2c\\41", {{"CN", "x,CN=y,A"}}},
        // A backslash that escapes nothing stays, as pages wrote it before.
        {"CN=A\\B,O=C:\\x\\4", {{"CN", "A\\B"}, {"O", "C:\\x\\4"}}},
        {"CN=a\\", {{"CN", "a\\"}}},
        {"CN=ACMEO=x", {{"CN", "ACMEO=x"}}},
        {"abc,CN=", {{"abc", std::nullopt}, {"CN", ""}}},
        {"CN=a,", {{"CN", "a"}, {"", std::nullopt}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(distinguishedNameItems(c.text), c.items) << c.text;
    }
}

TEST(DistinguishedName, SameNamesHaveTheSameItemsUnescaped) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {kForged, kForged, true},
        {kForged, "O=x\\2cCN=Zhang San,CN=Wang Wu", true},
        {kForged, "O=x,CN=Zhang San,CN=Wang Wu", false},
        {"CN=A\\B,O=x", "CN=A\\\\B,O=x", true},
        {"CN=Zhang San,O=Bank", "O=Bank,CN=Zhang San", false},
        {"CN=a", "CN=a,", false},
        {"CN=a", "CN=A", false},
        {"abc", "abc=", false},
        {"", "", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameDistinguishedName(c.a, c.b), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(sameDistinguishedName(c.b, c.a), c.same) << c.b << " / " << c.a;
    }
}

}  // namespace
}  // namespace orva::api
