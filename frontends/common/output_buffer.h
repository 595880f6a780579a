#pragma once

// The buffer a front end hands an export for its text output.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "orva/c_owners.h"

namespace orva::frontend {

// room zero bytes with the export's in/out length preset to room, and spare
// zero bytes behind them that the export is not told of, so that a text filling
// the room still ends in a NUL. calloc hands large sizes out as untouched zero
// pages: a page's large number costs only what the library writes.
class OutputBuffer {
  public:
    // Empty (false) when room is 0, above INT_MAX (the in/out length is an
    // int) or cannot be had.
    explicit OutputBuffer(std::uint64_t room, std::size_t spare = 0) noexcept;
    // The same, throwing std::bad_alloc where it would be empty.
    static OutputBuffer required(std::uint64_t room, std::size_t spare = 0);

    explicit operator bool() const noexcept { return bytes_ != nullptr; }
    char* data() noexcept { return bytes_.get(); }
    const char* data() const noexcept { return bytes_.get(); }
    int room() const noexcept { return room_; }
    int* length() noexcept { return &length_; }

    // The text up to its first NUL, never past the room.
    std::string_view text() const noexcept;
    // The text the export reported: text() cut to the in/out length.
    std::string_view reportedText() const noexcept;

  private:
    MallocPtr<char> bytes_;
    int room_ = 0;
    int length_ = 0;
};

}  // namespace orva::frontend
