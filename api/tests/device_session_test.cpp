// The device session every key export opens and closes, seen through the token
// manager's call trace: GetDevLanguageList stands for the exports that
// authenticate, GetDevSN for the one that does not.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api_library.h"
#include "orva_result_codes.h"

namespace orva::api::test {
namespace {

using Trace = std::vector<std::string>;

const Trace kOpen = {"NDEstablishContext", "NDGetSlotList", "NDOpen", "NDBeginTransaction"};
const Trace kClose = {"NDEndTransaction", "NDClose", "NDReleaseContext"};

Trace operator+(Trace a, const Trace& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error();
        env_.startTrace();
    }

    int languageList() { return callForText(ORVA_API_FN(api_, QZAPI_GetDevLanguageList)).code; }

    TestEnvironment env_;
    ApiLibrary api_;
};

TEST_F(Session, OneKeyIsOpenedAuthenticatedAndClosedInOrder) {
    env_.plugKey("SN1");
    int length = 0;
    ASSERT_EQ(ORVA_API_FN(api_, QZAPI_GetDevLanguageList)(nullptr, &length), kSuccess);
    EXPECT_EQ(env_.trace(), (kOpen + Trace{"QZExternAuth", "QZGetLanguageList"} + kClose));
}

TEST_F(Session, NoKeyIsMinus102AndNothingIsOpened) {
    EXPECT_EQ(languageList(), kNoDevice);
    EXPECT_EQ(env_.trace(), (Trace{"NDEstablishContext", "NDGetSlotList", "NDReleaseContext"}));
}

TEST_F(Session, TwoKeysAreMinus104AndNeitherIsOpened) {
    env_.plugKey("SN1");
    env_.plugKey("SN2");
    EXPECT_EQ(languageList(), kTooManyDevices);
    EXPECT_EQ(env_.trace(), (Trace{"NDEstablishContext", "NDGetSlotList", "NDReleaseContext"}));
}

TEST_F(Session, MoreKeysThanTheSlotListHoldsAreTooMany) {
    for (int i = 0; i < 33; ++i) {
        env_.plugKey("SN" + std::to_string(100 + i));
    }
    EXPECT_EQ(languageList(), kTooManyDevices);
    EXPECT_EQ(env_.traced("NDOpen"), 0u);
}

TEST_F(Session, ARefusedAuthenticationIsMinus103AndTheKeyIsClosedAgain) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"refuseExternAuth": true})");
    EXPECT_EQ(languageList(), kOpenDeviceError);
    EXPECT_EQ(env_.trace(), kOpen + Trace{"QZExternAuth"} + kClose);
}

TEST_F(Session, NoReaderContextIsMinus102WithNothingToRelease) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"fail": {"NDEstablishContext": "0x6F00"}})");
    EXPECT_EQ(languageList(), kNoDevice);
    EXPECT_EQ(env_.trace(), Trace{"NDEstablishContext"});
}

TEST_F(Session, AFailedSlotListIsMinus102AndReleasesTheContext) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"fail": {"NDGetSlotList": "0x6F00"}})");
    EXPECT_EQ(languageList(), kNoDevice);
    EXPECT_EQ(env_.trace(), (Trace{"NDEstablishContext", "NDGetSlotList", "NDReleaseContext"}));
}

TEST_F(Session, AKeyThatDoesNotOpenIsMinus103AndOnlyTheContextIsReleased) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"fail": {"NDOpen": "0x6A82"}})");
    EXPECT_EQ(languageList(), kOpenDeviceError);
    EXPECT_EQ(env_.trace(),
              (Trace{"NDEstablishContext", "NDGetSlotList", "NDOpen", "NDReleaseContext"}));
}

TEST_F(Session, AFailedBeginTransactionDoesNotMatter) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"fail": {"NDBeginTransaction": "0x6F00"}})");
    EXPECT_EQ(languageList(), kSuccess);
}

TEST_F(Session, AKeyPulledOutMidCallStillHasItsSessionClosed) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"pulled": "QZGetLanguageList"})");
    EXPECT_EQ(languageList(), kGetLanguageListError);
    EXPECT_EQ(env_.trace(), (kOpen + Trace{"QZExternAuth", "QZGetLanguageList"} + kClose));
}

TEST_F(Session, TheSerialNumberIsReadWithoutAuthentication) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"refuseExternAuth": true})");
    const TextResult serial = callForText(ORVA_API_FN(api_, QZAPI_GetDevSN));
    EXPECT_EQ(serial.code, kSuccess);
    EXPECT_EQ(serial.text, "SN1");
    EXPECT_EQ(env_.traced("QZExternAuth"), 0u);
    EXPECT_EQ(env_.trace(),
              kOpen + Trace{"QZReadSN"} + kClose + kOpen + Trace{"QZReadSN"} + kClose);
}

TEST_F(Session, ANullLengthOpensNoSession) {
    env_.plugKey("SN1");
    char buffer[64];
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetDevSN)(buffer, nullptr), kInvalidParameter);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetDevLanguageList)(buffer, nullptr), kInvalidParameter);
    EXPECT_TRUE(env_.trace().empty());
}

}  // namespace
}  // namespace orva::api::test
