#pragma once

// A text export whose text is bounded by what a file holds, not by the room a
// page asks for (GetSignFileContent: a page may ask for 2 GB and get a few
// bytes, or a refused token). The room is reserved only as far as the text
// needs it, so a page's number costs no memory by itself.

#include <algorithm>
#include <cstddef>

#include "orva_result_codes.h"

namespace orva::frontend {

// Enough for a whole piece of an ordinary signature file in one call.
inline constexpr std::size_t kFirstPieceRoom = 64 * 1024;

// One call of the export with a buffer of a given size: its code, and the
// length it left (the size it needs, NUL included, when it answers kBufferTooSmall).
struct PieceAttempt {
    ApiErrorCode code;
    int length;
};

// attempt(size) calls the export with a zero-filled buffer of size bytes and
// answers the page on success. The first buffer holds at most kFirstPieceRoom
// bytes; when the text needs more, within room, one more call gets exactly
// that. Whatever a buffer of room bytes would have answered is answered.
template <class Attempt>
ApiErrorCode callForPiece(std::size_t room, Attempt&& attempt) {
    const std::size_t first = std::min(room, kFirstPieceRoom);
    const PieceAttempt tried = attempt(first);
    if (tried.code != kBufferTooSmall || first == room || tried.length <= 0 ||
        static_cast<std::size_t>(tried.length) > room) {
        return tried.code;
    }
    return attempt(static_cast<std::size_t>(tried.length)).code;
}

}  // namespace orva::frontend
