#include <gtest/gtest.h>

#include "orva/hex.h"

namespace orva {
namespace {

TEST(HexTest, DecodesOnlyPairsOfDigits) {
    struct Case {
        std::string_view text;
        std::optional<Bytes> bytes;
    };
    const Case cases[] = {
        {"", Bytes{}},
        {"00ff7A", Bytes{0x00, 0xFF, 0x7A}},
        {"aBcD", Bytes{0xAB, 0xCD}},
        {"abc", std::nullopt},
        {"0g", std::nullopt},
        {"0 ", std::nullopt},
        {"-1", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fromHex(c.text), c.bytes) << c.text;
    }
}

TEST(HexTest, EncodesInTheCaseAsked) {
    const Bytes bytes{0x01, 0xAB, 0xF0};
    EXPECT_EQ(toHex(bytes), "01abf0");
    EXPECT_EQ(toHex(bytes, HexCase::upper), "01ABF0");
    EXPECT_EQ(fromHex(toHex(bytes, HexCase::upper)), bytes);
}

}  // namespace
}  // namespace orva
