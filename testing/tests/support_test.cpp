// The shared test helpers: a fault here would let other suites pass on wrong
// data, so the cases are the ones openssl and the suites rely on.

#include "orva/testing/support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

using orva::testing::Bytes;
using orva::testing::derSignatureFromRs;
using orva::testing::fromHex;
using orva::testing::toHex;

Bytes rs(const std::string& r, const std::string& s) {
    return fromHex(r + s);
}

TEST(DerSignatureFromRs, IntegersAreMinimalAndNonNegative) {
    struct Case {
        const char* r;
        const char* s;
        const char* der;
    };
    const Case cases[] = {
        {"0102", "0304", "300802020102020203 04"},
        {"0001", "0000", "3006020101020100"},         // leading zeros go, zero stays one byte
        {"8001", "7f00", "30090203008001 02027f00"},  // high bit: a zero byte in front
        {"0080", "00ff", "3008020200800202 00ff"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toHex(derSignatureFromRs(rs(c.r, c.s))), toHex(fromHex(c.der))) << c.r << c.s;
    }
}

TEST(DerSignatureFromRs, LongValuesUseTheLongLengthForm) {
    const Bytes der = derSignatureFromRs(Bytes(128, 0xFF));  // two 65-byte INTEGERs
    ASSERT_EQ(der.size(), 3u + 2 * (2 + 65));
    EXPECT_EQ(toHex(Bytes(der.begin(), der.begin() + 5)), "3081860241");
    EXPECT_EQ(der[5], 0x00);
}

TEST(DerSignatureFromRs, RefusesOddOrEmptyInput) {
    EXPECT_THROW(derSignatureFromRs(Bytes{}), std::runtime_error);
    EXPECT_THROW(derSignatureFromRs(Bytes{1, 2, 3}), std::runtime_error);
}

TEST(Hex, RoundTripsAndRefusesWhatIsNotHex) {
    EXPECT_EQ(fromHex("00 Ff 7a"), (Bytes{0x00, 0xFF, 0x7A}));
    EXPECT_EQ(toHex(Bytes{0x00, 0xFF, 0x7A}), "00ff7a");
    EXPECT_TRUE(fromHex("").empty());
    EXPECT_THROW(fromHex("abc"), std::runtime_error);
    EXPECT_THROW(fromHex("0g"), std::runtime_error);
    EXPECT_THROW(fromHex("0x12"), std::runtime_error);
}

TEST(TempDir, FilesLiveInsideAndGoWithTheFolder) {
    std::filesystem::path kept;
    {
        const orva::testing::TempDir dir;
        kept = dir.path();
        orva::testing::writeFile(dir.file("a b"), std::string_view("x\0y", 3));
        EXPECT_EQ(orva::testing::readFile(dir.file("a b")), (Bytes{'x', 0, 'y'}));
        EXPECT_EQ(dir.arg("it's"), "'" + dir.file("it") + "'\\''s'");
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
    EXPECT_THROW(orva::testing::readFile(kept / "a b"), std::runtime_error);
}

TEST(RunCommand, StatusAndBothStreams) {
    const auto result = orva::testing::runCommand("echo out; echo err >&2; exit 3");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.output, "out\nerr\n");
    EXPECT_EQ(orva::testing::runCommand("kill -9 $$").status, -1);
}

TEST(RunProgram, KeepsTheStreamsApartAndPassesArgumentsUnchanged) {
    const auto result = orva::testing::runProgram(
        "/bin/sh", {"-c", "echo \"$1\"; echo err >&2; exit 4", "sh", "it's a 'quoted' $arg"});
    EXPECT_EQ(result.exit, 4);
    EXPECT_EQ(result.out, "it's a 'quoted' $arg\n");
    EXPECT_EQ(result.err, "err\n");
    EXPECT_THROW(orva::testing::runProgram("/nonexistent/program", {}), std::runtime_error);
}

TEST(GuardedChild, GivesTheExitCodeAndEndsAChildThatHangs) {
    EXPECT_EQ(orva::testing::exitOfGuardedChild([] { return 7; }), 7);
    EXPECT_EQ(orva::testing::exitOfGuardedChild([]() -> int { throw std::runtime_error("x"); }),
              -1);
    EXPECT_EQ(orva::testing::exitOfGuardedChild(
                  [] {
                      ::pause();
                      return 0;
                  },
                  1),
              -1);
}

}  // namespace
