// The result-code table the library and every front end show texts from.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "orva_result_codes.h"

namespace orva {
namespace {

TEST(ResultCodeTable, HoldsSixtySixDistinctCodesFromSuccessDownToTooManyCertificates) {
    const auto rows = resultCodeTexts();
    ASSERT_EQ(rows.size(), 66u);
    EXPECT_EQ(rows.front().code, kSuccess);
    EXPECT_STREQ(rows.front().text, "SUCCESS");
    EXPECT_EQ(rows.back().code, kTooManyCertificates);
    EXPECT_STREQ(rows.back().text, "ERR TOOMANY CERT");
    std::set<ApiErrorCode> codes;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_TRUE(codes.insert(rows[i].code).second) << rows[i].code;
        EXPECT_FALSE(std::string(rows[i].text).empty()) << rows[i].code;
        if (i > 0) {
            EXPECT_LT(rows[i].code, rows[i - 1].code) << "table order at " << rows[i].code.number();
        }
    }
}

TEST(ResultCodeTable, TriesLeftCodesReadAsVerifyPinRetry) {
    for (std::int32_t number = -206; number <= -201; ++number) {
        EXPECT_STREQ(resultCodeText(ApiErrorCode{number}), "VERIFY PIN RETRY") << number;
    }
    EXPECT_STREQ(resultCodeText(ApiErrorCode{-203}), "VERIFY PIN RETRY");
}

TEST(ResultCodeTable, CodesWithoutARowReadOtherError) {
    for (std::int32_t number : {-207, -199, -220, -223, -304, -342, -399, -414, -1, 1, -100000}) {
        EXPECT_STREQ(resultCodeText(ApiErrorCode{number}), "Other Error") << number;
    }
    EXPECT_STREQ(resultCodeText(kNothingFound), kOtherErrorText);
}

TEST(ResultCodeTable, SpotChecksAgainstTheTexts) {
    EXPECT_STREQ(resultCodeText(kNoDevice), "NO DEVICE");
    EXPECT_STREQ(resultCodeText(kTooManyDevices), "TOO MANY DEVICE");
    EXPECT_STREQ(resultCodeText(kBufferTooSmall), "ERR BUFFER TOO SMALL");
    EXPECT_STREQ(resultCodeText(kDeletePublicKeyError), "ERR DEL PUBKEY");
    EXPECT_STREQ(resultCodeText(kAddAsymKeyToContainerError), "ERR ADD ASYSKEY TO CONTAINER");
    EXPECT_STREQ(resultCodeText(kConvertStringError), "CONVERT STR ERR");
    EXPECT_STREQ(resultCodeText(kFunctionUnsupported), "ERR FUNC UNSUPPORT");
}

}  // namespace
}  // namespace orva
