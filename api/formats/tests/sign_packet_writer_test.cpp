#include "sign_packet_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "attached_file.h"
#include "base64_codec.h"
#include "formats_test_support.h"
#include "orva_result_codes.h"
#include "result.h"

namespace orva::api {
namespace {

using test::bytesOf;
using test::fromHex;
using test::TempDir;
using test::textOf;

using Builder = Result<std::size_t> (*)(std::string_view, std::string_view, std::string_view,
                                        std::span<std::uint8_t>);
// The builders that take a path.
constexpr Builder kBuilders[] = {buildSignPacketBinary, buildSignPacketText};

// A buffer of `capacity` bytes, then guard bytes no writer may touch.
struct GuardedBuffer {
    explicit GuardedBuffer(std::size_t capacity) : bytes(capacity + 32, 0xEE), size(capacity) {}
    std::span<std::uint8_t> span() { return std::span(bytes).first(size); }
    bool untouchedFrom(std::size_t from) const {
        return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                           [](std::uint8_t b) { return b == 0xEE; });
    }
    Bytes bytes;
    std::size_t size;
};

Bytes build(Builder builder, std::string_view xml, std::string_view display,
            std::string_view path) {
    Bytes out(8192);
    const Result<std::size_t> length = builder(xml, display, path, out);
    EXPECT_EQ(length.code(), kSuccess);
    out.resize(length ? *length : 0);
    return out;
}

std::string digits(std::size_t value, int width) {
    std::string text = std::to_string(value);
    return std::string(static_cast<std::size_t>(width) - text.size(), '0') + text;
}

TEST(SignPacket, BothFormsWithoutFileByteForByte) {
    EXPECT_EQ(build(buildSignPacketBinary, "xxx", "yy", ""),
              fromHex("11 00000000 00000020  21 00000000 00000003 787878"
                      "23 00000000 00000000  22 00000000 00000002 7979"));
    EXPECT_EQ(textOf(build(buildSignPacketText, "xxx", "yy", "")),
              "110000000041"
              "210000000003xxx"
              "220000000002yy"
              "230000000000");
}

TEST(SignPacket, FormsPutDisplayAndFileInOppositeOrder) {
    const TempDir dir;
    const std::string path = dir.file("a.txt");
    test::writeFile(path, "A");
    const std::string field = "00000000" + digits(path.size() + 4 + 16, 8) +
                              digits(path.size() + 4 + 8, 8) + digits(path.size(), 8) + path +
                              "QQ==";
    const auto binaryHeader = [](char tag, std::size_t length) {
        return std::string{
            tag, 0, 0, 0, 0, 0, 0, static_cast<char>(length >> 8), static_cast<char>(length)};
    };
    const std::size_t outer = 3 + 2 + field.size();
    EXPECT_EQ(textOf(build(buildSignPacketBinary, "xxx", "yy", path)),
              binaryHeader(0x11, outer + 27) + binaryHeader(0x21, 3) + "xxx" +
                  binaryHeader(0x23, field.size()) + field + binaryHeader(0x22, 2) + "yy");
    EXPECT_EQ(textOf(build(buildSignPacketText, "xxx", "yy", path)),
              "11" + digits(outer + 36, 10) + "210000000003xxx" + "220000000002yy" + "23" +
                  digits(field.size(), 10) + field);
}

TEST(AttachedFileField, FormatsCountsPathAndContent) {
    GuardedBuffer out(64);
    const Result<std::size_t> length = formatAttachedFileField("C:\\a.txt", "QQ==", out.span());
    ASSERT_EQ(length.code(), kSuccess);
    EXPECT_EQ(*length, 44u);
    EXPECT_EQ(textOf(std::span(out.bytes).first(44)),
              "00000000000000280000002000000008C:\\a.txtQQ==");
    EXPECT_TRUE(out.untouchedFrom(44));  // no terminator

    GuardedBuffer tight(43);
    EXPECT_EQ(formatAttachedFileField("C:\\a.txt", "QQ==", tight.span()).code(), kTlvEncodeError);
    EXPECT_TRUE(tight.untouchedFrom(0));
}

TEST(AttachedFileField, NoPathNoFieldAndUnreadableFiles) {
    const TempDir dir;
    const Result<Bytes> field = buildAttachedFileField("");
    ASSERT_EQ(field.code(), kSuccess);
    EXPECT_TRUE(field->empty());

    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir.file("missing"), dir.file(""), dir.file("fifo")}) {
        EXPECT_EQ(buildAttachedFileField(path).code(), kBase64EncodeError) << path;
        // The builders hand the field's code back unchanged.
        Bytes out(4096);
        EXPECT_EQ(buildSignPacketBinary("x", "y", path, out).code(), kBase64EncodeError);
        EXPECT_EQ(buildSignPacketText("x", "y", path, out).code(), kBase64EncodeError);
    }
}

// B + 16 <= 99999999 with B = path length + base64 length; 74,999,985 bytes
// encode to 99,999,980 characters.
TEST(AttachedFileField, CountLimitAtItsBoundary) {
    const Result<std::size_t> length = attachedFileFieldLength(3, 74999985);
    ASSERT_EQ(length.code(), kSuccess);
    EXPECT_EQ(*length, 32u + 99999983u);
    EXPECT_EQ(attachedFileFieldLength(4, 74999985).code(), kFileTooLong);
    // Sizes whose base64 length wraps to something small in 32 or 64 bits.
    EXPECT_EQ(attachedFileFieldLength(0, 0xC0000000).code(), kFileTooLong);
    EXPECT_EQ(attachedFileFieldLength(0, 0xC000000000000003).code(), kFileTooLong);
    EXPECT_EQ(attachedFileFieldLength(0, ~std::uint64_t{0}).code(), kFileTooLong);
    EXPECT_EQ(attachedFileFieldLength(~std::size_t{0}, 1).code(), kFileTooLong);

    // The same boundary through a real path and a sparse file, which is refused
    // from its size alone: 75 MB are never read.
    const TempDir dir;
    std::string path = dir.file("f");
    while ((99999983 - path.size()) % 4 != 0) {
        path += "f";
    }
    const std::size_t base64Length = 99999983 - path.size();
    for (const std::string& name : {path, path + "g"}) {
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(base64Length / 4 * 3)), 0);
        ::close(fd);
    }
    const Result<std::size_t> size = estimateSignPacketSize(10, 5, path);
    ASSERT_EQ(size.code(), kSuccess);
    EXPECT_EQ(*size, 10 + 5 + path.size() + base64Length + 1 + 512);
    EXPECT_EQ(estimateSignPacketSize(10, 5, path + "g").code(), kFileTooLong);
    EXPECT_EQ(buildAttachedFileField(path + "g").code(), kFileTooLong);
}

TEST(EstimateSignPacketSize, EveryPacketFitsTheEstimate) {
    const TempDir dir;
    const std::string path = dir.file("attached");
    for (const std::size_t fileSize : {0, 1, 2, 3, 4, 100, 3000}) {
        test::writeFile(path, std::string(fileSize, 'z'));
        for (const std::size_t textSize : {0, 1, 900}) {
            const std::string text(textSize, 't');
            for (const std::string& attached : {std::string(), path}) {
                for (const Builder builder : kBuilders) {
                    const Result<std::size_t> estimate =
                        estimateSignPacketSize(textSize, textSize, attached);
                    ASSERT_EQ(estimate.code(), kSuccess);
                    GuardedBuffer out(*estimate);
                    ASSERT_EQ(builder(text, text, attached, out.span()).code(), kSuccess)
                        << fileSize << " " << textSize;
                }
            }
        }
    }
    EXPECT_EQ(estimateSignPacketSize(3, 2, dir.file("missing")).code(), kOpenFileError);
    EXPECT_EQ(estimateSignPacketSize(3, 2, dir.file("")).code(), kOpenFileError);
    const Result<std::size_t> size = estimateSignPacketSize(3, 2, "");
    ASSERT_EQ(size.code(), kSuccess);
    EXPECT_EQ(*size, 3u + 2u + 512u);
}

// A file read in several slices, each ending on another base64 remainder, is
// the field of its whole text in either form; one that shrank after it was
// opened gives the field of what is left.
TEST(SignPacket, FileReadInSlicesIsTheFieldOfItsWholeText) {
    const TempDir dir;
    const std::string path = dir.file("large.bin");
    constexpr std::size_t kMiB = 1 << 20;
    for (const auto& [fileSize, shrunk] : {std::pair{kMiB - 1, kMiB - 1},
                                           {kMiB, kMiB},
                                           {kMiB + 1, kMiB + 1},
                                           {2 * kMiB + 2, 2 * kMiB + 2},
                                           {2 * kMiB + 2, kMiB + 2}}) {
        SCOPED_TRACE(::testing::Message() << fileSize << " " << shrunk);
        std::string content(fileSize, '\0');
        for (std::size_t i = 0; i < fileSize; ++i) {
            content[i] = static_cast<char>(i * 131 + (i >> 20));
        }
        test::writeFile(path, content);
        const std::string text = base64Encode(bytesOf(std::string_view(content).substr(0, shrunk)));
        Bytes field(kAttachedFileCountsSize + path.size() + text.size());
        ASSERT_EQ(formatAttachedFileField(path, text, field).code(), kSuccess);
        for (const bool binary : {true, false}) {
            AttachedFile file(path);
            const Result<std::size_t> estimate = estimateSignPacketSize(3, 2, file);
            ASSERT_EQ(estimate.code(), kSuccess);
            ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(shrunk)), 0);
            Bytes out(*estimate);
            const Result<std::size_t> length = binary
                                                   ? buildSignPacketBinary("xxx", "yy", file, out)
                                                   : buildSignPacketText("xxx", "yy", file, out);
            ASSERT_EQ(length.code(), kSuccess);
            // The field follows the file's header: the binary form puts the
            // display after it, the text form ends with it.
            const std::size_t at = binary ? 3 * 9 + 3 : 4 * 12 + 3 + 2;
            EXPECT_EQ(*length, at + field.size() + (binary ? 9 + 2 : 0));
            EXPECT_TRUE(std::equal(field.begin(), field.end(), out.begin() + std::ptrdiff_t(at)));
            test::writeFile(path, content);
        }
    }
}

TEST(SignPacket, TooShortOutIsRefusedWithoutWriting) {
    const TempDir dir;
    const std::string path = dir.file("log.txt");
    test::writeFile(path, "short");
    const Result<std::size_t> estimate = estimateSignPacketSize(3, 2, path);
    ASSERT_EQ(estimate.code(), kSuccess);

    for (const Builder builder : kBuilders) {
        // One byte short of the packet.
        GuardedBuffer out(build(builder, "xxx", "yy", path).size() - 1);
        EXPECT_EQ(builder("xxx", "yy", path, out.span()).code(), kTlvEncodeError);
        EXPECT_TRUE(out.untouchedFrom(0));
    }
    // A file that grew after the estimate no longer fits it.
    test::writeFile(path, std::string(4000, 'L'));
    for (const Builder builder : kBuilders) {
        GuardedBuffer out(*estimate + 1);
        EXPECT_EQ(builder("xxx", "yy", path, out.span()).code(), kTlvEncodeError);
        EXPECT_TRUE(out.untouchedFrom(0));
    }
}

TEST(TlvWriters, HeadersAndLimits) {
    GuardedBuffer out(15);
    EXPECT_EQ(putBinaryTlvHeader(0x11, 0xFFFFFFFF, out.span()).code(), kSuccess);
    EXPECT_EQ(Bytes(out.bytes.begin(), out.bytes.begin() + 9), fromHex("11 00000000 ffffffff"));
    EXPECT_EQ(putBinaryTlvHeader(0x11, 0x100000000, out.span()).code(), kTlvEncodeError);

    const Result<std::size_t> written = putTextTlv("21", bytesOf("abc"), out.span());
    ASSERT_EQ(written.code(), kSuccess);
    EXPECT_EQ(*written, 15u);
    EXPECT_EQ(textOf(std::span(out.bytes).first(15)), "210000000003abc");
    EXPECT_TRUE(out.untouchedFrom(15));  // no terminator behind the value
    EXPECT_EQ(putTextTlvHeader("11", 9999999999, out.span()).code(), kSuccess);
    EXPECT_EQ(textOf(std::span(out.bytes).first(12)), "119999999999");
    EXPECT_EQ(putTextTlvHeader("11", 10000000000, out.span()).code(), kTlvEncodeError);
    EXPECT_EQ(putTextTlv("1", bytesOf("x"), out.span()).code(), kInvalidParameter);

    GuardedBuffer tight(9 + 3 - 1);
    EXPECT_EQ(putBinaryTlv(0x21, bytesOf("abc"), tight.span()).code(), kTlvEncodeError);
    EXPECT_EQ(putTextTlv("21", bytesOf(""), tight.span()).code(), kTlvEncodeError);
    EXPECT_TRUE(tight.untouchedFrom(0));
}

}  // namespace
}  // namespace orva::api
