// SizedOutput: size query, exact fit, one short, negative and zero lengths,
// empty text, and the null length pointer refused before any work.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "sized_output.h"

namespace orva::api {
namespace {

constexpr char kCanary = '\x5A';

struct Case {
    const char* name;
    std::string text;
    bool withBuffer;
    int lengthIn;
    ApiErrorCode result;
    int lengthOut;
    bool copied;
};

TEST(SizedOutput, FollowsTheConventionForEveryLength) {
    const Case cases[] = {
        {"size query", "abcde", false, 0, kSuccess, 6, false},
        {"size query ignores the length", "abcde", false, -7, kSuccess, 6, false},
        {"exact room", "abcde", true, 6, kSuccess, 5, true},
        {"more room", "abcde", true, 32, kSuccess, 5, true},
        {"one short", "abcde", true, 5, kBufferTooSmall, 6, false},
        {"zero", "abcde", true, 0, kBufferTooSmall, 6, false},
        {"negative", "abcde", true, -1, kBufferTooSmall, 6, false},
        {"most negative", "abcde", true, INT32_MIN, kBufferTooSmall, 6, false},
        {"empty text", "", true, 1, kSuccess, 0, true},
        {"empty text without room", "", true, 0, kBufferTooSmall, 1, false},
        {"empty text size query", "", false, 0, kSuccess, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<char, 40> buffer;
        buffer.fill(kCanary);
        int length = c.lengthIn;
        EXPECT_EQ(sizedOutput(c.text, c.withBuffer ? buffer.data() : nullptr, &length), c.result);
        EXPECT_EQ(length, c.lengthOut);
        if (c.copied) {
            EXPECT_EQ(std::string(buffer.data()), c.text);
            EXPECT_EQ(buffer[c.text.size() + 1], kCanary) << "written past the NUL";
        } else {
            EXPECT_EQ(buffer[0], kCanary) << "buffer touched";
        }
    }
}

TEST(SizedOutput, ANullLengthIsRefusedBeforeTheTextIsComputed) {
    bool computed = false;
    std::array<char, 8> buffer{};
    const ApiErrorCode result = withSizedOutput(buffer.data(), nullptr, [&](std::string& text) {
        computed = true;
        text = "x";
        return kSuccess;
    });
    EXPECT_EQ(result, kInvalidParameter);
    EXPECT_FALSE(computed);
}

TEST(SizedOutput, AFailedComputationLeavesLengthAndBufferAlone) {
    std::array<char, 8> buffer;
    buffer.fill(kCanary);
    int length = 8;
    const ApiErrorCode result = withSizedOutput(buffer.data(), &length, [](std::string& text) {
        text = "partial";
        return kNoDevice;
    });
    EXPECT_EQ(result, kNoDevice);
    EXPECT_EQ(length, 8);
    EXPECT_EQ(buffer[0], kCanary);
}

TEST(SizedOutput, ASizeQueryRunsTheComputationToo) {
    int runs = 0;
    int length = 0;
    EXPECT_EQ(withSizedOutput(nullptr, &length,
                              [&](std::string& text) {
                                  ++runs;
                                  text = "abc";
                                  return kSuccess;
                              }),
              kSuccess);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(length, 4);
}

}  // namespace
}  // namespace orva::api
