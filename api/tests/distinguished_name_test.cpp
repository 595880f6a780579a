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

TEST(DistinguishedName, EscapedCommasNeverForgeAnItem) {
    const struct {
        const char* requested;
        const char* subject;
        ApiErrorCode code;
        const char* commonName;
    } cases[] = {
        {"CN=Zhang San,O=x", kForged, kNoMatchCertificate, ""},
        {"Zhang", kForged, kNoMatchCertificate, ""},
        {"CN=Wang Wu,O=x", kForged, kNoMatchCertificate, ""},
        {"CN=Wang Wu", kForged, kSuccess, "Wang Wu"},
        {"Wang", kForged, kSuccess, "Wang Wu"},
        // The subject as the key lists it, and the same name written another way.
        {kForged, kForged, kSuccess, "Wang Wu"},
        {"CN=Wang Wu,O=x\\2CCN=Zhang San", kForged, kSuccess, "Wang Wu"},
        // A name alone may carry an escaped comma; an unescaped one needs a CN.
        {"Li\\, S", "CN=Li\\, Si,O=Bank", kSuccess, "Li, Si"},
        {"CN=Li\\, Si,O=Bank", "CN=Li\\, Si,O=Bank", kSuccess, "Li, Si"},
        {"Li, S", "CN=Li\\, Si,O=Bank", kInvalidParameter, ""},
        {"CN=Li,O=Bank", "CN=Li\\, Si,O=Bank", kNoMatchCertificate, ""},
        // Names as pages wrote them before escapes still match.
        {"CN=A\\B,O=x", "CN=A\\\\B,O=x", kSuccess, "A\\B"},
        {"CN=a+b,O=x;y", "CN=a\\+b,O=x\\;y", kSuccess, "a+b"},
        {"CN= a", "CN=\\ a\\ ", kSuccess, " a "},
    };
    for (const auto& c : cases) {
        std::string cn;
        EXPECT_EQ(matchDistinguishedName(c.requested, c.subject, cn), c.code) << c.requested;
        EXPECT_EQ(cn, c.commonName) << c.requested;
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
