// The container walk and the per-container reads, against the software key,
// through a device session of the library's own.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "container_walk.h"
#include "device_session.h"
#include "library_lifecycle.h"
#include "test_environment.h"
#include "win32/module.h"

namespace orva::api {
namespace {

using test::TestEnvironment;

struct Seen {
    std::uint32_t index;
    std::string name;
};

class Walk : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(processAttach(GetModuleHandleA(nullptr)), TRUE);
        env_.plugKey("SN1");
    }
    void TearDown() override { processDetach(); }

    std::uint32_t add(const std::string& name) {
        std::uint32_t index = 0;
        env_.changeKey("SN1", [&](softkey::Token& t) { index = softkey::addContainer(t, name); });
        return index;
    }

    // Every container the walk delivers, and the status word that ended it.
    std::vector<Seen> walk(const DeviceSession& session, std::uint32_t& end) {
        std::vector<Seen> seen;
        ContainerWalk walk(session);
        MakerStatus step = walk.next();
        for (; step.ok(); step = walk.next()) {
            seen.push_back({walk.index(), std::string(walk.name())});
        }
        end = step.word();
        return seen;
    }

    TestEnvironment env_;
};

TEST_F(Walk, AnEmptyKeyEndsAtTheFirstStep) {
    DeviceSession session;
    ASSERT_EQ(session.open(), kSuccess);
    std::uint32_t end = 0;
    EXPECT_TRUE(walk(session, end).empty());
    EXPECT_EQ(end, DRV_END_OF_CONTAINERS);
}

TEST_F(Walk, DeliversEveryContainerWithItsName) {
    const std::uint32_t a = add("first");
    const std::uint32_t b = add(std::string(259, 'n'));
    DeviceSession session;
    ASSERT_EQ(session.open(), kSuccess);
    std::uint32_t end = 0;
    const std::vector<Seen> seen = walk(session, end);
    EXPECT_EQ(end, DRV_END_OF_CONTAINERS);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].index, a);
    EXPECT_EQ(seen[0].name, "first");
    EXPECT_EQ(seen[1].index, b);
    EXPECT_EQ(seen[1].name, std::string(259, 'n'));
}

TEST_F(Walk, ContinuesPastAContainerDeletedUnderIt) {
    add("one");
    const std::uint32_t two = add("two");
    add("three");
    DeviceSession session;
    ASSERT_EQ(session.open(), kSuccess);
    ContainerWalk walk(session);
    ASSERT_EQ(walk.next().word(), DRV_OK);
    ASSERT_EQ(walk.next().word(), DRV_OK);
    ASSERT_EQ(walk.index(), two);
    env_.changeKey("SN1", [&](softkey::Token& t) { softkey::removeContainer(t, two); });
    ASSERT_EQ(walk.next().word(), DRV_OK);
    EXPECT_EQ(walk.name(), "three");
    EXPECT_EQ(walk.next().word(), DRV_END_OF_CONTAINERS);
}

TEST_F(Walk, AnotherStatusIsHandedToTheCaller) {
    add("one");
    add("two");
    env_.setFaults(R"({"fail": {"QZEnumContainer": {"status": "0x6F00", "count": 1}}})");
    DeviceSession session;
    ASSERT_EQ(session.open(), kSuccess);
    std::uint32_t end = 0;
    EXPECT_TRUE(walk(session, end).empty());
    EXPECT_EQ(end, DRV_E_INTERNAL);
}

TEST_F(Walk, ReadsContainerInfoAndCertificates) {
    const std::uint32_t index = add("signer");
    const std::vector<std::uint8_t> der(1200, 0x30);
    env_.changeKey("SN1", [&](softkey::Token& t) {
        softkey::setCertificate(t, index, DRV_FILE_SIGN_CERT, der);
    });
    DeviceSession session;
    ASSERT_EQ(session.open(), kSuccess);

    const std::optional<DRV_CONTAINER_INFO> info = readContainerInfo(session, index);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->containerId, index);
    EXPECT_NE(info->signCertPresent, 0u);
    EXPECT_EQ(info->exchCertPresent, 0u);

    EXPECT_EQ(readContainerCertificate(session, index, DRV_FILE_SIGN_CERT), der);
    EXPECT_FALSE(readContainerCertificate(session, index, DRV_FILE_EXCH_CERT));
}

TEST_F(Walk, AFailedInfoReadGivesNoRecord) {
    DeviceSession session;
    ASSERT_EQ(session.open(), kSuccess);
    EXPECT_FALSE(readContainerInfo(session, 77));
}

TEST_F(Walk, AnIndexBeyondEightBitsIsNeverAskedFor) {
    // The token manager takes the index as 8 bits: 257 would read container 1.
    const std::uint32_t one = add("one");
    ASSERT_EQ(one, 1u);
    env_.changeKey("SN1", [&](softkey::Token& t) {
        softkey::setCertificate(t, one, DRV_FILE_SIGN_CERT, {0x30, 0x00});
    });
    DeviceSession session;
    ASSERT_EQ(session.open(), kSuccess);
    env_.startTrace();
    EXPECT_FALSE(readContainerCertificate(session, 257, DRV_FILE_SIGN_CERT));
    EXPECT_EQ(env_.traced("QZReadFileFromContainer"), 0u);
}

}  // namespace
}  // namespace orva::api
