// The store of a long reply: counters and pieces, and what it costs.

#include "pending_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace orva::native_host {
namespace {

std::string numbered(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        text[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
    }
    return text;
}

TEST(PendingReply, EmptyBeforeAnyLongResult) {
    PendingReply pending;
    const Piece piece = pending.nextPiece();
    EXPECT_EQ(piece.leftsize, 0u);
    EXPECT_EQ(piece.content, "");
}

TEST(PendingReply, CountsOneMoreThanTheBytesLeft) {
    const std::string text = numbered(3'000'001);
    PendingReply pending;
    Piece piece = pending.startLongResult(text);
    EXPECT_EQ(piece.leftsize, 2'000'002u);
    EXPECT_EQ(piece.content, std::string_view(text).substr(0, 1'000'000));
    piece = pending.nextPiece();
    EXPECT_EQ(piece.leftsize, 1'000'002u);
    EXPECT_EQ(piece.content, std::string_view(text).substr(1'000'000, 1'000'000));
    piece = pending.nextPiece();
    EXPECT_EQ(piece.leftsize, 2u);
    EXPECT_EQ(piece.content, std::string_view(text).substr(2'000'000, 1'000'000));
    piece = pending.nextPiece();
    EXPECT_EQ(piece.leftsize, 0u);
    EXPECT_EQ(piece.content, std::string_view(text).substr(3'000'000));
    EXPECT_EQ(piece.content.size(), 1u);
}

TEST(PendingReply, ANewLongResultReplacesTheOld) {
    PendingReply pending;
    pending.startLongResult(std::string(2'500'000, 'a'));
    pending.nextPiece();
    const Piece piece = pending.startLongResult(std::string(1'000'000, 'b'));
    EXPECT_EQ(piece.leftsize, 1u);
    EXPECT_EQ(pending.nextPiece().content, "");
}

TEST(PendingReply, RefusesAShortResult) {
    PendingReply pending;
    EXPECT_THROW(pending.startLongResult(std::string(999'999, 'a')), std::length_error);
}

}  // namespace
}  // namespace orva::native_host
