#pragma once

// Results of 1,000,000 bytes or more go out in pieces: the command's own reply
// carries the first, and "GetDataPackage" fetches the next. The counter
// "leftsize" is the bytes still to come plus one, 0 after the last piece.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orva::native_host {

// Bytes of content per piece (decimal, not 1 MiB): a piece and its JSON
// wrapping stay under the browser's 1 MiB limit for a message to a page.
inline constexpr std::size_t kPieceSize = 1'000'000;

struct Piece {
    std::uint32_t leftsize;
    std::string_view content;  // valid until the store changes
};

class PendingReply {
  public:
    // Keeps a long result (kPieceSize bytes or more) in place of any earlier
    // one and answers its first piece.
    Piece startLongResult(std::string result);
    // The next piece. After the last, the last piece again with leftsize 0;
    // before any long result, an empty piece with leftsize 0.
    Piece nextPiece() noexcept;

  private:
    // The whole result stays; offset_ marks where the pending bytes begin, so
    // handing out a piece costs its own size only.
    std::string text_;
    std::size_t offset_ = 0;
    std::uint32_t leftsize_ = 0;
};

}  // namespace orva::native_host
