// The host's framing and main loop over real pipes: what a browser, or a
// broken peer, can put on its standard input.

#include <fstream>
#include <string>

#include "host_test_support.h"

namespace orva::native_host::test {
namespace {

using HostFramingTest = FakeApiHostTest;

const std::string kVersionReply = R"({"CmdType":"GetVersion","Resp":"1.0.0.0"})";

TEST_F(HostFramingTest, AZeroLengthFrameGetsNoReplyAndTheHostReadsOn) {
    ASSERT_TRUE(host().write(std::string(4, '\0')));
    EXPECT_EQ(host().request(request("GetVersion")), kVersionReply);
}

TEST_F(HostFramingTest, RequestsWithoutAUsableCmdTypeGetAZeroLengthFrame) {
    for (const char* body :
         {"{}", "[]", "\"GetVersion\"", "42", "not json", "{\"CmdType\":\"\"}", "{\"CmdType\":7}",
          "{\"CmdType\":null}", "{\"CmdType\":\"GetVer", "[{\"CmdType\":\"GetVersion\"}]"}) {
        EXPECT_EQ(host().request(body), "") << body;
    }
    // None of them was even bound to: nothing was called.
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(HostFramingTest, AReplyOf300BytesStartsWithItsLittleEndianLength) {
    // {"CmdType":"GetMediaID","Resp":""} is 34 bytes.
    script(R"({"GetDevSN":{"length":266}})");
    ASSERT_TRUE(host().send(request("GetMediaID")));
    host().closeInput();
    const std::string raw = host().readRest();
    ASSERT_GE(raw.size(), 4u);
    EXPECT_EQ(raw.substr(0, 4), std::string("\x2c\x01\x00\x00", 4));
    EXPECT_EQ(raw.size(), 304u);
}

TEST_F(HostFramingTest, FramesWrittenAtOnceAreAnsweredInOrder) {
    script(R"({"GetDevSN":{"text":"SK1"}})");
    ASSERT_TRUE(host().write(frame(request("GetVersion")) + frame("{}") +
                             frame(request("GetMediaID")) + frame(request("Unknown"))));
    EXPECT_EQ(host().readFrame(), kVersionReply);
    EXPECT_EQ(host().readFrame(), "");
    EXPECT_EQ(host().readFrame(), R"({"CmdType":"GetMediaID","Resp":"SK1"})");
    EXPECT_EQ(host().readFrame(), R"({"CmdType":"Unknown","Resp":""})");
}

TEST_F(HostFramingTest, InputEndingInsideALengthEndsTheHostSilently) {
    for (const std::size_t bytes : {0u, 1u, 2u, 3u}) {
        HostProcess host(environment());
        ASSERT_TRUE(host.write(std::string(bytes, '\x05')));
        host.closeInput();
        EXPECT_EQ(host.waitExit(), 0) << bytes;
        EXPECT_EQ(host.readRest(1s), "") << bytes;
    }
}

TEST_F(HostFramingTest, InputEndingInsideABodyDropsIt) {
    ASSERT_TRUE(host().send(request("GetVersion")));
    EXPECT_EQ(host().readFrame(), kVersionReply);
    const std::string cut = frame(request("GetVersion"));
    ASSERT_TRUE(host().write(cut.substr(0, cut.size() - 1)));
    host().closeInput();
    EXPECT_EQ(host().waitExit(), 0);
    EXPECT_EQ(host().readRest(1s), "");
}

TEST_F(HostFramingTest, ABodyOverTheLimitIsDroppedAndAnsweredEmpty) {
    // 64 MiB + 1: read through and dropped, then the next request is served.
    const std::uint32_t length = (64u << 20) + 1;
    std::string header(4, '\0');
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    ASSERT_TRUE(host().write(header));
    const std::string block(1 << 20, '{');
    for (std::uint32_t sent = 0; sent < length;) {
        const std::size_t n = std::min<std::size_t>(block.size(), length - sent);
        ASSERT_TRUE(host().write(std::string_view(block).substr(0, n)));
        sent += static_cast<std::uint32_t>(n);
    }
    EXPECT_EQ(host().readFrame(), "");
    EXPECT_EQ(host().request(request("GetVersion")), kVersionReply);
}

// The peak memory of a running process, from /proc.
std::size_t peakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoul(line.substr(6));
        }
    }
    return 0;
}

TEST_F(HostFramingTest, AHugeAnnouncedLengthIsNeverHeldInMemory) {
    ASSERT_TRUE(host().write("\xff\xff\xff\xff"));
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 160; ++i) {
        ASSERT_TRUE(host().write(block));
    }
    // 160 MiB went in; the host holds a buffer of its own, not the body.
    EXPECT_LT(peakResidentKiB(host().pid()), 120u * 1024u);
    host().closeInput();
    EXPECT_EQ(host().waitExit(), 0);
    EXPECT_EQ(host().readRest(1s), "");
}

TEST_F(HostFramingTest, ABrowserThatStoppedReadingDoesNotKillTheHost) {
    host().closeOutput();
    // The first reply fails to go out; the host ends cleanly, not by SIGPIPE.
    host().send(request("GetVersion"));
    EXPECT_EQ(host().waitExit(), 0);
}

TEST_F(HostFramingTest, TextAfterTheFirstValueIsIgnored) {
    EXPECT_EQ(host().request(request("GetVersion") + " trailing {"), kVersionReply);
    EXPECT_EQ(host().request(request("GetVersion") + std::string("\0\xff", 2)), kVersionReply);
}

}  // namespace
}  // namespace orva::native_host::test
