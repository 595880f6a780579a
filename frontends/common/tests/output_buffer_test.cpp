#include "output_buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <new>
#include <string_view>

namespace orva::frontend {
namespace {

TEST(OutputBuffer, RoomsTheLengthCannotStateAreEmpty) {
    for (const std::uint64_t room :
         {std::uint64_t{0}, std::uint64_t{INT_MAX} + 1, ~std::uint64_t{0}}) {
        OutputBuffer buffer(room);
        EXPECT_FALSE(buffer) << room;
        EXPECT_EQ(buffer.data(), nullptr) << room;
        EXPECT_EQ(*buffer.length(), 0) << room;
        EXPECT_EQ(buffer.text(), "") << room;
        EXPECT_THROW(OutputBuffer::required(room), std::bad_alloc) << room;
    }
}

TEST(OutputBuffer, RoomAndSpareAreZeroAndTheLengthStatesTheRoom) {
    OutputBuffer buffer = OutputBuffer::required(8, 1);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(*buffer.length(), 8);
    EXPECT_EQ(buffer.room(), 8);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(buffer.data()[i], '\0') << i;
    }
    // A text that fills the room still ends in the spare byte.
    std::memset(buffer.data(), 'a', 8);
    EXPECT_EQ(std::strlen(buffer.data()), 8u);
}

TEST(OutputBuffer, TextsStopAtTheRoomTheFirstNulAndTheReportedLength) {
    const struct {
        const char* name;
        std::string_view written;  // into a room of 8, the rest left zero
        int reported;
        std::string_view text;          // up to the first NUL within the room
        std::string_view reportedText;  // also within the reported length
    } cases[] = {
        {"shorter than the room", "abc", 3, "abc", "abc"},
        {"length counts the NUL", "abc", 4, "abc", "abc"},
        {"length short of the NUL", "abcdef", 2, "abcdef", "ab"},
        {"fills the room", "abcdefgh", 8, "abcdefgh", "abcdefgh"},
        {"length past the room", "abcdefgh", 100, "abcdefgh", "abcdefgh"},
        {"NUL inside", std::string_view("ab\0cd", 5), 5, "ab", "ab"},
        {"negative length", "abc", -1, "abc", ""},
        {"nothing written", "", 8, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OutputBuffer buffer(8);
        ASSERT_TRUE(buffer);
        std::memcpy(buffer.data(), c.written.data(), c.written.size());
        *buffer.length() = c.reported;
        EXPECT_EQ(buffer.text(), c.text);
        EXPECT_EQ(buffer.reportedText(), c.reportedText);
    }
}

}  // namespace
}  // namespace orva::frontend
