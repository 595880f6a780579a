// The store of a long reply and its pieces.

#include "pending_reply.h"

#include <limits>
#include <stdexcept>

namespace orva::native_host {

Piece PendingReply::startLongResult(std::string result) {
    if (result.size() < kPieceSize ||
        result.size() > std::numeric_limits<std::uint32_t>::max() - 1u) {
        throw std::length_error("a long result out of range");
    }
    text_ = std::move(result);
    // L + 1 - 1,000,000: one more than the bytes left after this piece.
    leftsize_ = static_cast<std::uint32_t>(text_.size() + 1 - kPieceSize);
    offset_ = kPieceSize;
    return {leftsize_, std::string_view(text_).substr(0, kPieceSize)};
}

Piece PendingReply::nextPiece() noexcept {
    const std::uint32_t n = leftsize_;
    const std::string_view pending = std::string_view(text_).substr(offset_);
    if (n > kPieceSize) {
        leftsize_ = static_cast<std::uint32_t>(n - kPieceSize);
        offset_ += kPieceSize;
        return {leftsize_, pending.substr(0, kPieceSize)};
    }
    // The last piece: all that is pending, which stays pending.
    leftsize_ = 0;
    return {leftsize_, pending};
}

}  // namespace orva::native_host
