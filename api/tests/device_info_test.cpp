// Serial number, driver version and provider information.

#include <gtest/gtest.h>

#include <string>

#include "api_library.h"
#include "orva_result_codes.h"

namespace orva::api::test {
namespace {

constexpr const char* kNativeEntry =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane CSP "
    "ORVA V1.0]\n";
constexpr const char* kWowEntry =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "Korvane CSP ORVA V1.0]\n";

std::string version(const std::string& text) {
    return "\"DisplayVersion\"=\"" + text + "\"\n";
}

class DeviceInfo : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    TextResult serial() { return callForText(ORVA_API_FN(api_, QZAPI_GetDevSN)); }
    TextResult driverVersion() { return callForText(ORVA_API_FN(api_, QZAPI_GetDriverVer)); }
    TextResult cspInfo() { return callForText(ORVA_API_FN(api_, QZAPI_GetCSPInfo)); }

    TestEnvironment env_;
    ApiLibrary api_;
};

TEST_F(DeviceInfo, SerialNumberOfTheOneKeyPresent) {
    env_.plugKey("UK2024000017");
    int length = 0;
    ASSERT_EQ(ORVA_API_FN(api_, QZAPI_GetDevSN)(nullptr, &length), kSuccess);
    EXPECT_EQ(length, 13);
    std::string buffer(12, 'x');
    length = 12;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetDevSN)(buffer.data(), &length), kBufferTooSmall);
    EXPECT_EQ(length, 13);
    EXPECT_EQ(buffer, std::string(12, 'x'));
    const TextResult result = serial();
    EXPECT_EQ(result.code, kSuccess);
    EXPECT_EQ(result.text, "UK2024000017");
    EXPECT_EQ(result.length, 12);
}

TEST_F(DeviceInfo, TheLongestSerialFits) {
    const std::string longest(63, 'S');
    env_.plugKey(longest);
    EXPECT_EQ(serial().text, longest);
}

TEST_F(DeviceInfo, SerialNumberNeedsExactlyOneKey) {
    EXPECT_EQ(serial().code, kNoDevice);
    env_.plugKey("SN1");
    env_.plugKey("SN2");
    EXPECT_EQ(serial().code, kTooManyDevices);
}

TEST_F(DeviceInfo, AnUnreadableSerialIsMinus300) {
    env_.plugKey("SN1");
    env_.setFaults(R"({"fail": {"QZReadSN": "0x6F00"}})");
    EXPECT_EQ(serial().code, kOperationFailed);
}

TEST_F(DeviceInfo, DriverVersionFromTheNativeEntry) {
    env_.setRegistry(std::string(kNativeEntry) + version("3.1.0.12") + "\n" + kWowEntry +
                     version("9.9"));
    const TextResult result = driverVersion();
    EXPECT_EQ(result.code, kSuccess);
    EXPECT_EQ(result.text, "3.1.0.12");
    EXPECT_EQ(cspInfo().text, "Korvane CSP ORVA V1.0||3.1.0.12");
}

TEST_F(DeviceInfo, DriverVersionFromThe32BitEntryWhenThereIsNoNativeOne) {
    env_.setRegistry(std::string(kWowEntry) + version("2.0.5"));
    EXPECT_EQ(driverVersion().text, "2.0.5");
    EXPECT_EQ(cspInfo().text, "Korvane CSP ORVA V1.0||2.0.5");
}

TEST_F(DeviceInfo, ANativeEntryWithoutAVersionDoesNotFallBack) {
    env_.setRegistry(std::string(kNativeEntry) + "\"Publisher\"=\"Korvane\"\n\n" + kWowEntry +
                     version("2.0.5"));
    EXPECT_EQ(driverVersion().code, kDriverNotInstalled);
    EXPECT_EQ(cspInfo().code, kOperationFailed);
}

TEST_F(DeviceInfo, NoEntryIsMinus101ForTheVersionAndMinus300ForTheProviderInfo) {
    EXPECT_EQ(driverVersion().code, kDriverNotInstalled);
    EXPECT_EQ(cspInfo().code, kOperationFailed);
    env_.setRegistry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\n");
    EXPECT_EQ(driverVersion().code, kDriverNotInstalled);
}

TEST_F(DeviceInfo, AnEmptyVersionIsMinus300) {
    env_.setRegistry(std::string(kNativeEntry) + version(""));
    EXPECT_EQ(driverVersion().code, kOperationFailed);
    EXPECT_EQ(cspInfo().code, kOperationFailed);
}

TEST_F(DeviceInfo, ProviderInfoTakesVersionsOfUpTo31Characters) {
    const std::string fits(31, '7');
    env_.setRegistry(std::string(kNativeEntry) + version(fits));
    EXPECT_EQ(cspInfo().text, "Korvane CSP ORVA V1.0||" + fits);

    const std::string tooLong(32, '7');
    env_.setRegistry(std::string(kNativeEntry) + version(tooLong));
    EXPECT_EQ(driverVersion().text, tooLong);
    EXPECT_EQ(cspInfo().code, kOperationFailed);
}

TEST_F(DeviceInfo, AVersionAbove260BytesCannotBeRead) {
    env_.setRegistry(std::string(kNativeEntry) + version(std::string(259, '1')));
    EXPECT_EQ(driverVersion().text, std::string(259, '1'));
    env_.setRegistry(std::string(kNativeEntry) + version(std::string(300, '1')));
    EXPECT_EQ(driverVersion().code, kDriverNotInstalled);
}

TEST_F(DeviceInfo, NoKeyIsNeededForVersionsAndANullLengthIsRefused) {
    env_.setRegistry(std::string(kNativeEntry) + version("1.0"));
    EXPECT_EQ(driverVersion().code, kSuccess);
    char buffer[64];
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetDriverVer)(buffer, nullptr), kInvalidParameter);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetCSPInfo)(buffer, nullptr), kInvalidParameter);
}

}  // namespace
}  // namespace orva::api::test
