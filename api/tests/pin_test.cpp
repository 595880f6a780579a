// Key initialisation and the PIN change, against the software key.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>

#include "api_library.h"
#include "orva_result_codes.h"
#include "win32/event.h"

namespace orva::api::test {
namespace {

constexpr const char* kEventName = "ZEDIDUzaZavi_Status_Change_Event_Korvane CSP ORVA V1.0";

struct HandleClose {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using Event = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

class PinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error();
        env_.plugKey("SN1");
    }

    int initCard(const char* pin, int length) {
        return ORVA_API_FN(api_, QZAPI_CustInitCard)(pin, length);
    }
    int changePin(const char* oldPin, int oldLength, const char* newPin, int newLength) {
        return ORVA_API_FN(api_, QZAPI_ChangePIN)(oldPin, oldLength, newPin, newLength);
    }
    bool pinIs(const std::string& pin) { return softkey::pinMatches(env_.key("SN1"), pin); }
    void addContainer() {
        env_.changeKey("SN1", [](softkey::Token& t) { softkey::addContainer(t, "old-keys"); });
    }

    TestEnvironment env_;
    ApiLibrary api_;
};

using CustInitCard = PinTest;
using ChangePin = PinTest;

TEST_F(CustInitCard, APinOfWrongLengthIsRefusedBeforeTheKeyIsOpened) {
    env_.startTrace();
    EXPECT_EQ(initCard("12345", 5), kPinLengthError);
    EXPECT_EQ(initCard(std::string(31, '1').c_str(), 31), kPinLengthError);
    EXPECT_EQ(initCard("123456", -6), kPinLengthError);
    // A length beyond the text would make the key read past it.
    EXPECT_EQ(initCard("123456", 12), kPinLengthError);
    EXPECT_TRUE(env_.trace().empty());
}

TEST_F(CustInitCard, InitialisesTheKeyWithTheGivenPin) {
    addContainer();
    ASSERT_EQ(initCard("87654321", 8), kSuccess);
    EXPECT_TRUE(env_.key("SN1").containers.empty());
    EXPECT_TRUE(pinIs("87654321"));
    ASSERT_EQ(initCard(std::string(30, '9').c_str(), 30), kSuccess);
    EXPECT_TRUE(pinIs(std::string(30, '9')));
}

TEST_F(CustInitCard, WithoutAPinTheKeyAsksForOneAndTheLengthIsIgnored) {
    env_.setUser(R"({"newPin": "24681357"})");
    EXPECT_EQ(initCard(nullptr, -1), kSuccess);
    EXPECT_TRUE(pinIs("24681357"));
    // Nobody at the key to type it: the key's cancel comes back as the user's.
    env_.setUser(R"({"button": "cancel"})");
    EXPECT_EQ(initCard(nullptr, 0), kUserCancel);
}

TEST_F(CustInitCard, OnlyAKeyWhoseAdminKeyIsInItsFirstStateIsInitialised) {
    addContainer();
    env_.changeKey("SN1", [](softkey::Token& t) { t.adminState = 2; });
    EXPECT_EQ(initCard("87654321", 8), kFunctionUnsupported);
    EXPECT_EQ(env_.key("SN1").containers.size(), 1u);
    EXPECT_TRUE(pinIs(kTestPin));
}

TEST_F(CustInitCard, AnUnreadableAdminRecordIsMinus309) {
    env_.setFaults(R"({"fail": {"QZGetAdminKeyInfo": "0x6F00"}})");
    EXPECT_EQ(initCard("87654321", 8), kGetAdminKeyInfoError);
}

TEST_F(CustInitCard, TheKeysStatusIsMappedWithMinus301AsDefault) {
    env_.setFaults(R"({"fail": {"QZInitADF": {"status": "0x6581", "count": 1}}})");
    EXPECT_EQ(initCard("87654321", 8), kDeviceStructError);
    env_.setFaults(R"({"fail": {"QZInitADF": {"status": 164, "count": 1}}})");
    EXPECT_EQ(initCard("87654321", 8), kPinLocked);
    EXPECT_TRUE(pinIs(kTestPin));
}

TEST_F(CustInitCard, SessionFailuresComeBackAsTheirCodes) {
    env_.setFaults(R"({"refuseExternAuth": true})");
    EXPECT_EQ(initCard("87654321", 8), kOpenDeviceError);
    env_.setFaults("{}");
    env_.plugKey("SN2");
    EXPECT_EQ(initCard("87654321", 8), kTooManyDevices);
}

TEST_F(CustInitCard, SetsTheStatusChangeEventOnceOnSuccessOnly) {
    const Event event(CreateEventA(nullptr, FALSE, FALSE, kEventName));
    ASSERT_NE(event, nullptr);
    env_.changeKey("SN1", [](softkey::Token& t) { t.adminState = 2; });
    EXPECT_EQ(initCard("87654321", 8), kFunctionUnsupported);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);

    env_.changeKey("SN1", [](softkey::Token& t) { t.adminState = 1; });
    ASSERT_EQ(initCard("87654321", 8), kSuccess);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

TEST_F(CustInitCard, SucceedsWhenNobodyListensForTheEvent) {
    ASSERT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, kEventName), nullptr);
    EXPECT_EQ(initCard("87654321", 8), kSuccess);
    // The library never creates the event itself.
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, kEventName), nullptr);
}

TEST_F(ChangePin, ArgumentsAreCheckedInOrderBeforeTheKeyIsOpened) {
    env_.startTrace();
    EXPECT_EQ(changePin("12345", 5, nullptr, 8), kInvalidParameter);
    EXPECT_EQ(changePin("12345", 5, "87654321", 8), kPinLengthError);
    EXPECT_EQ(changePin(kTestPin, 8, "1234", 4), kPinLengthError);
    EXPECT_EQ(changePin(kTestPin, 8, std::string(31, '1').c_str(), 31), kPinLengthError);
    EXPECT_EQ(changePin("123456", 10, "87654321", 8), kPinLengthError);
    EXPECT_EQ(changePin(kTestPin, 8, "876543", 9), kPinLengthError);
    EXPECT_EQ(changePin(nullptr, 0, "87654321", 8), kInvalidParameter);
    EXPECT_TRUE(env_.trace().empty());
}

TEST_F(ChangePin, TheRightOldPinSetsTheNewOne) {
    ASSERT_EQ(changePin(kTestPin, 8, "55667788", 8), kSuccess);
    EXPECT_TRUE(pinIs("55667788"));
    ASSERT_EQ(changePin("55667788", 8, std::string(30, '4').c_str(), 30), kSuccess);
    EXPECT_TRUE(pinIs(std::string(30, '4')));
}

TEST_F(ChangePin, AWrongOldPinGivesTheTriesLeft) {
    EXPECT_EQ(changePin("00000000", 8, "55667788", 8), -205);
    env_.changeKey("SN1", [](softkey::Token& t) { t.pin.triesLeft = 3; });
    EXPECT_EQ(changePin("00000000", 8, "55667788", 8), -202);
    EXPECT_TRUE(pinIs(kTestPin));
}

TEST_F(ChangePin, TheLastWrongTryLocksThePin) {
    env_.changeKey("SN1", [](softkey::Token& t) { t.pin.triesLeft = 1; });
    EXPECT_EQ(changePin("00000000", 8, "55667788", 8), kPinLocked);
    EXPECT_EQ(changePin(kTestPin, 8, "55667788", 8), kPinLocked);
}

TEST_F(ChangePin, MoreTriesLeftThanHaveATextGiveMinus300) {
    // -209 would read "Other Error", and 21 or 22 tries would read as kPinLocked or
    // kPinLengthError.
    env_.changeKey("SN1", [](softkey::Token& t) {
        t.pin.maxTries = 15;
        t.pin.triesLeft = 10;
    });
    EXPECT_EQ(changePin("00000000", 8, "55667788", 8), kOperationFailed);
    EXPECT_EQ(env_.key("SN1").pin.triesLeft, 9u);
    env_.changeKey("SN1", [](softkey::Token& t) { t.pin.triesLeft = 7; });
    EXPECT_EQ(changePin("00000000", 8, "55667788", 8), -206);
}

TEST_F(ChangePin, WithNeitherPinTheKeyAsksForBoth) {
    env_.setUser(std::string(R"({"pin": ")") + kTestPin + R"(", "newPin": "99887766"})");
    ASSERT_EQ(changePin(nullptr, 0, nullptr, 0), kSuccess);
    EXPECT_TRUE(pinIs("99887766"));
    env_.setUser(R"({"button": "timeout"})");
    EXPECT_EQ(changePin(nullptr, 0, nullptr, 0), kOperationTimeout);
}

TEST_F(ChangePin, SessionFailuresComeBackAsTheirCodes) {
    env_.setFaults(R"({"refuseExternAuth": true})");
    EXPECT_EQ(changePin(kTestPin, 8, "55667788", 8), kOpenDeviceError);
    EXPECT_TRUE(pinIs(kTestPin));
}

}  // namespace
}  // namespace orva::api::test
