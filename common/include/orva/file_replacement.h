#pragma once

// Replacing a file whole: a reader sees the old content or the new, never a mix,
// and a crash leaves one of the two.

#include <sys/types.h>

#include <string>
#include <string_view>

#include "orva/file_descriptor.h"

namespace orva {

// The replacement's permissions: as open(2) makes them (less the umask), or
// exactly these bits.
struct NewFileMode {
    mode_t bits = 0600;
    bool exact = false;
};

// How a replacement ended: error 0, or the errno of the step named.
struct ReplacementResult {
    int error = 0;
    const char* step = "";
    explicit operator bool() const noexcept { return error == 0; }
};

// Writes content to a new temporary file beside path, syncs it, renames it over
// path and syncs the folder. The temporary file never remains. With written,
// the new file stays open there (a caller can keep its identity).
ReplacementResult replaceFile(const std::string& path, std::string_view content, NewFileMode mode,
                              FileDescriptor* written = nullptr);

// Writes all of text to fd, through short writes and interruptions.
bool writeAll(int fd, std::string_view text) noexcept;

}  // namespace orva
