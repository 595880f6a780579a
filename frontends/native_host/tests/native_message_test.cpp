// Frames read from a descriptor however the bytes arrive, and written whole.

#include "native_message.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "host_process.h"

namespace orva::native_host {
namespace {

class Pipe {
  public:
    Pipe() { EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0); }
    ~Pipe() {
        closeWrite();
        ::close(fds_[0]);
    }
    int readEnd() const { return fds_[0]; }
    int writeEnd() const { return fds_[1]; }
    void closeWrite() {
        if (fds_[1] >= 0) {
            ::close(fds_[1]);
            fds_[1] = -1;
        }
    }
    void write(const std::string& bytes) {
        ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

  private:
    int fds_[2] = {-1, -1};
};

TEST(FrameReader, ReadsFramesArrivingByteByByte) {
    Pipe pipe;
    const std::string bytes = test::frame("{\"a\":1}") + std::string(4, '\0') + test::frame("x");
    std::thread writer([&] {
        for (const char c : bytes) {
            pipe.write(std::string(1, c));
        }
        pipe.closeWrite();
    });
    FrameReader reader(pipe.readEnd());
    std::string body;
    EXPECT_EQ(reader.read(body), FrameStatus::message);
    EXPECT_EQ(body, "{\"a\":1}");
    EXPECT_EQ(reader.read(body), FrameStatus::empty);
    EXPECT_EQ(reader.read(body), FrameStatus::message);
    EXPECT_EQ(body, "x");
    EXPECT_EQ(reader.read(body), FrameStatus::endOfInput);
    EXPECT_EQ(body, "");
    writer.join();
}

TEST(FrameReader, DropsABodyCutShort) {
    Pipe pipe;
    pipe.write(test::frame("0123456789").substr(0, 9));
    pipe.closeWrite();
    FrameReader reader(pipe.readEnd());
    std::string body = "old";
    EXPECT_EQ(reader.read(body), FrameStatus::endOfInput);
    EXPECT_EQ(body, "");
}

TEST(FrameReader, RefusesALengthOverTheLimitAfterReadingItThrough) {
    Pipe pipe;
    const std::uint32_t length = kMaxRequestBytes + 1;
    std::thread writer([&] {
        const std::array<char, 4> header = frameHeader(length);
        pipe.write(std::string(header.data(), 4));
        const std::string block(1 << 20, 'z');
        for (std::uint32_t sent = 0; sent < length; sent += block.size()) {
            pipe.write(block.substr(0, std::min<std::size_t>(block.size(), length - sent)));
        }
        pipe.write(test::frame("next"));
        pipe.closeWrite();
    });
    FrameReader reader(pipe.readEnd());
    std::string body;
    EXPECT_EQ(reader.read(body), FrameStatus::refused);
    EXPECT_EQ(body, "");
    EXPECT_EQ(reader.read(body), FrameStatus::message);
    EXPECT_EQ(body, "next");
    writer.join();
}

TEST(FrameHeader, IsLittleEndian) {
    const std::array<char, 4> header = frameHeader(300);
    EXPECT_EQ(std::string(header.data(), 4), std::string("\x2c\x01\x00\x00", 4));
    const std::array<char, 4> large = frameHeader(0x01020304);
    EXPECT_EQ(std::string(large.data(), 4), "\x04\x03\x02\x01");
}

TEST(WriteNativeMessage, WritesTheWholeFrameOrReportsFailure) {
    Pipe pipe;
    const std::string text(200'000, 'q');  // more than a pipe holds at once
    std::string got;
    std::thread reader([&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(pipe.readEnd(), chunk, sizeof chunk)) > 0;) {
            got.append(chunk, static_cast<std::size_t>(n));
        }
    });
    EXPECT_TRUE(writeNativeMessage(pipe.writeEnd(), text));
    EXPECT_TRUE(writeNativeMessage(pipe.writeEnd(), ""));
    pipe.closeWrite();
    reader.join();
    EXPECT_EQ(got, test::frame(text) + std::string(4, '\0'));
    EXPECT_FALSE(writeNativeMessage(-1, "x"));
}

}  // namespace
}  // namespace orva::native_host
