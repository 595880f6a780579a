// Pelnor.so as the token API library meets it: loaded by name, its two working
// exports recording certificate registrations in a temporary store.

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <string_view>

#include "maker/pelnor.h"
#include "maker_list_support.h"
#include "registrations.h"
#include "store_test_support.h"
#include "win32/module.h"

namespace orva::softkey {
namespace {

using pelnor::readRegistrations;
using test::TempStore;

constexpr const char* kProvider = "Korvane CSP ORVA V1.0";

const Bytes kCertA = {0x30, 0x82, 0x01, 0x0A, 0xA1};
const Bytes kCertB = {0x30, 0x82, 0x01, 0x0A, 0xB2};

std::uint32_t reg(const Bytes& der, const char* container, void* reserved = nullptr) {
    return AuxRegUserCert(der.data(), static_cast<std::uint32_t>(der.size()), kProvider, container,
                          2, reserved);
}

std::uint32_t unreg(const Bytes& der) {
    return AuxUnRegUserCert(der.data(), static_cast<std::uint32_t>(der.size()));
}

constexpr std::string_view kExportList =
    "AuxLoadTarnoxIni AuxWriteLog AuxRegUserCert* AuxUnRegUserCert* AuxGenContainerName "
    "AuxExpMatch";

TEST(PelnorExports, AllNamesResolveInOrderAndNoOtherIsExported) {
    const auto list = test::exportList(kExportList);
    test::expectExactExports("Pelnor", list, AUX_E_NOT_SUPPORTED);
}

TEST(PelnorExports, TheBindingListIsTheExportList) {
    const auto bound = ORVA_TEST_MAKER_LIST(ORVA_PELNOR_NAMES);
    EXPECT_EQ(bound, test::exportList(kExportList));
}

class PelnorTest : public ::testing::Test {
  protected:
    TempStore temp_;
};

TEST_F(PelnorTest, RegistrationsAreRecordedReplacedAndRemoved) {
    std::array<std::uint8_t, 260> reserved{};
    reserved.fill(0x5A);
    EXPECT_EQ(reg(kCertA, "container-a", reserved.data()), AUX_OK);
    EXPECT_EQ(std::count(reserved.begin(), reserved.end(), 0x5A), 260) << "reserved was written";
    EXPECT_EQ(reg(kCertB, "container-b"), AUX_OK);
    EXPECT_EQ(reg(kCertA, "container-a2"), AUX_OK) << "registering again";

    auto list = readRegistrations(temp_.store());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].certificate, kCertB);
    EXPECT_EQ(list[1].certificate, kCertA);
    EXPECT_EQ(list[1].container, "container-a2");
    EXPECT_EQ(list[1].provider, kProvider);
    EXPECT_EQ(list[1].keySpec, 2u);

    EXPECT_EQ(unreg(kCertA), AUX_OK);
    EXPECT_EQ(unreg(kCertA), AUX_E_NOT_FOUND);
    list = readRegistrations(temp_.store());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].container, "container-b");
}

TEST_F(PelnorTest, BadArgumentsAndFaultsChangeNothing) {
    ASSERT_EQ(reg(kCertA, "a"), AUX_OK);
    const std::string before = test::readText(temp_.path("registered.json"));

    EXPECT_EQ(AuxRegUserCert(nullptr, 5, kProvider, "a", 2, nullptr), AUX_E_BAD_ARGUMENT);
    EXPECT_EQ(AuxRegUserCert(kCertB.data(), 0, kProvider, "a", 2, nullptr), AUX_E_BAD_ARGUMENT);
    EXPECT_EQ(AuxRegUserCert(kCertB.data(), 5, nullptr, "a", 2, nullptr), AUX_E_BAD_ARGUMENT);
    EXPECT_EQ(AuxRegUserCert(kCertB.data(), 5, kProvider, nullptr, 2, nullptr), AUX_E_BAD_ARGUMENT);
    EXPECT_EQ(AuxUnRegUserCert(nullptr, 5), AUX_E_BAD_ARGUMENT);

    temp_.put("faults.json", R"({"failWrites": true})");
    EXPECT_EQ(reg(kCertB, "b"), AUX_E_WRITE_FAILED);
    EXPECT_EQ(unreg(kCertA), AUX_E_WRITE_FAILED);
    temp_.put("faults.json", R"({"fail": {"AuxRegUserCert": 2147483650}})");
    EXPECT_EQ(reg(kCertB, "b"), 0x80000002u);
    EXPECT_EQ(test::readText(temp_.path("registered.json")), before);

    temp_.put("faults.json", "{}");
    temp_.put("registered.json", R"({"registrations": [{"certificate": "!!"}]})");
    EXPECT_EQ(reg(kCertB, "b"), AUX_E_INTERNAL) << "a malformed file was overwritten";
}

}  // namespace
}  // namespace orva::softkey
