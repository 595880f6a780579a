#include "base64_codec.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <array>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>

#include "formats_test_support.h"

namespace orva::api {
namespace {

using namespace std::string_view_literals;
using test::bytesOf;
using test::textOf;

TEST(Base64Encode, ExactTextNoTerminatorAndCapacity) {
    for (const auto& [bytes, text] : {std::pair{"Man"sv, "TWFu"sv},
                                      {"M"sv, "TQ=="sv},
                                      {"Ma"sv, "TWE="sv},
                                      {"Many"sv, "TWFueQ=="sv}}) {
        SCOPED_TRACE(bytes);
        std::array<char, 12> out;
        out.fill('#');
        // One short: refused, nothing written.
        EXPECT_FALSE(base64Encode(bytesOf(bytes), std::span(out).first(text.size() - 1)));
        EXPECT_EQ(out[0], '#');
        ASSERT_EQ(base64Encode(bytesOf(bytes), out), text.size());
        EXPECT_EQ(std::string_view(out.data(), text.size()), text);
        EXPECT_EQ(out[text.size()], '#');
        EXPECT_EQ(base64EncodedLength(bytes.size()), text.size());
    }
    // No bytes: an empty text, out not touched.
    std::array<char, 1> out{'#'};
    EXPECT_EQ(base64Encode({}, out), 0u);
    EXPECT_EQ(out[0], '#');
    EXPECT_THROW(base64EncodedLength(std::numeric_limits<std::size_t>::max()), std::length_error);
}

// OpenSSL's encoder is the reference; the decoder gives the bytes back.
// Every way to cut eight bytes into three pieces (empty ones too) gives the
// text of the whole; room one group short is refused at finish.
TEST(Base64Writer, PiecesGiveTheTextOfTheWhole) {
    const auto whole = bytesOf("\x01\xff\x80pqrs\x7f"sv);
    const std::string expected = base64Encode(whole);
    for (std::size_t first = 0; first <= whole.size(); ++first) {
        for (std::size_t second = first; second <= whole.size(); ++second) {
            SCOPED_TRACE(::testing::Message() << first << ", " << second);
            for (const std::size_t room : {expected.size(), expected.size() - 1}) {
                std::string out(expected.size() + 1, '#');
                Base64Writer writer(std::span<char>(out).first(room));
                writer.write(std::span(whole).subspan(0, first));
                writer.write(std::span(whole).subspan(first, second - first));
                writer.write(std::span(whole).subspan(second));
                const std::optional<std::size_t> length = writer.finish();
                if (room < expected.size()) {
                    EXPECT_FALSE(length);
                    EXPECT_EQ(out.substr(room), "##");
                    continue;
                }
                ASSERT_EQ(length, expected.size());
                EXPECT_EQ(out.substr(0, *length), expected);
                EXPECT_EQ(out[*length], '#');
            }
        }
    }
}

TEST(Base64Codec, AgreesWithOpensslAndRoundTrips) {
    std::mt19937 random(20240611);
    for (std::size_t size = 0; size <= 300; ++size) {
        Bytes bytes(size);
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        std::string reference(base64EncodedLength(size) + 1, '\0');
        reference.resize(static_cast<std::size_t>(
            EVP_EncodeBlock(reinterpret_cast<unsigned char*>(reference.data()), bytes.data(),
                            static_cast<int>(size))));
        const std::string text = base64Encode(bytes);
        ASSERT_EQ(text, reference) << size;
        ASSERT_EQ(base64Decode(text), bytes) << size;
    }
}

TEST(Base64Decode, SizesFollowThePadding) {
    for (const auto& [text, bytes] : {std::pair{""sv, ""sv},
                                      {"TQ=="sv, "M"sv},
                                      {"TWE="sv, "Ma"sv},
                                      {"TWFu"sv, "Man"sv},
                                      {"TWFueQ=="sv, "Many"sv},
                                      {"TWFueWFu"sv, "Manyan"sv}}) {
        EXPECT_EQ(base64DecodedLength(text), bytes.size()) << text;
        EXPECT_EQ(textOf(base64Decode(text).value()), bytes);
    }
}

TEST(Base64Decode, MalformedTextsFail) {
    for (const std::string_view text :
         {// not whole groups of four
          "T"sv, "TQ="sv, "TWFuT"sv, "TWFu==="sv,
          // padding anywhere but the last one or two characters
          "TQ=A"sv, "T=QA"sv, "===="sv, "A==="sv, "TQ==TWFu"sv, "TWE=TWE="sv,
          // characters outside the alphabet, which would decode to garbage
          "TW@u"sv, "TW u"sv, "TWF\n"sv, "TQ\0="sv, "-_=="sv, "TW\xC3\xA9"sv}) {
        EXPECT_FALSE(base64DecodedLength(text)) << test::toHex(bytesOf(text));
        EXPECT_FALSE(base64Decode(text));
    }
}

TEST(Base64Decode, ReadsOnlyInsideTheTextAndItsOut) {
    // The text need not be terminated: the padding behind it is not part of it.
    const char buffer[] = {'T', 'W', 'F', 'u', '=', '='};
    EXPECT_EQ(textOf(base64Decode(std::string_view(buffer, 4)).value()), "Man");

    std::array<std::uint8_t, 4> out;
    out.fill(0xEE);
    EXPECT_FALSE(base64Decode("TWFu", std::span(out).first(2)));
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_FALSE(base64Decode("TW@u", out));
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
    ASSERT_EQ(base64Decode("TWFu", std::span(out).first(3)), 3u);
    EXPECT_EQ(textOf(std::span(out).first(3)), "Man");
    EXPECT_EQ(out[3], 0xEE);
}

TEST(ReadFileAsBase64, RegularFilesOnly) {
    const test::TempDir dir;
    test::writeFile(dir.file("a.txt"), "A");
    test::writeFile(dir.file("empty"), "");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);

    EXPECT_EQ(readFileAsBase64(dir.file("a.txt")), "QQ==");
    EXPECT_EQ(readFileAsBase64(dir.file("empty")), "");
    EXPECT_FALSE(readFileAsBase64(dir.file("missing")));
    EXPECT_FALSE(readFileAsBase64(dir.file("")));  // the folder
    EXPECT_FALSE(readFileAsBase64(""));
    // A pipe without a writer would block a plain read for ever.
    EXPECT_FALSE(readFileAsBase64(dir.file("fifo")));
    // A NUL inside the path would name another file.
    EXPECT_FALSE(readFileAsBase64(dir.file("a.txt") + std::string(1, '\0') + "x"));
}

}  // namespace
}  // namespace orva::api
