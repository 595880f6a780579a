// MapTokenStatus: the status words that have codes of their own, whatever
// default the caller brings, and the default for every other word.

#include <gtest/gtest.h>

#include <cstdint>

#include "maker/dravik.h"
#include "token_status.h"

namespace orva::api {
namespace {

struct Row {
    std::uint32_t status;
    ApiErrorCode code;
};

constexpr Row kRows[] = {
    {0, kSuccess},
    {1, kUserCancel},
    {48, kUserCancel},
    {50, kUserCancel},
    {164, kPinLocked},
    {0x80000101u, kDefaultPin},
    {0x80000A01u, kOperationTimeout},
    {0x80000A04u, kButtonBreakdown},
    {0x9000D10Du, kKeyShowNull},
    {0x9000D10Eu, kXmlBadData},
};

TEST(MapTokenStatus, KnownWordsIgnoreTheDefault) {
    for (const ApiErrorCode fallback : {kOperationFailed, kDeviceStructError, kSignFailed}) {
        for (const Row& row : kRows) {
            EXPECT_EQ(mapTokenStatus(row.status, fallback), row.code)
                << std::hex << row.status << " default " << std::dec << fallback.number();
        }
    }
}

TEST(MapTokenStatus, OtherWordsGiveTheCallersDefault) {
    // The two successes that are not 0 are handled by their callers, never here.
    for (const std::uint32_t status :
         {2u, 47u, 49u, 51u, 163u, 165u, DRV_SW_OK, DRV_PREPARED, DRV_END_OF_CONTAINERS,
          DRV_E_WRONG_PIN(3), DRV_E_AUTH_FAILED, DRV_E_INTERNAL, 0x80000100u, 0xFFFFFFFFu}) {
        EXPECT_EQ(mapTokenStatus(status, kSignFailed), kSignFailed) << std::hex << status;
        EXPECT_EQ(mapTokenStatus(status, kDeviceStructError), kDeviceStructError)
            << std::hex << status;
    }
}

}  // namespace
}  // namespace orva::api
