#pragma once

// The file attached to one transaction signature. It is opened once, at its
// first use, and every later step of the call reads that descriptor: the size
// query and the packet that is signed see one file, even when its path is
// swapped meanwhile.

#include <optional>
#include <string>
#include <string_view>

#include "regular_file.h"

namespace orva::api {

class AttachedFile {
  public:
    // The file at path; an empty path attaches nothing.
    explicit AttachedFile(std::string_view path) : path_(path) {}
    // A file the caller opened under path and checked: it must stay as it was.
    AttachedFile(std::string_view path, RegularFile checked);

    std::string_view path() const noexcept { return path_; }

    // The file, opened at the first call and never again; null when there is
    // no path or it does not open as a regular file.
    const RegularFile* file();

    // False for a checked file that was written to since it was opened.
    [[nodiscard]] bool unchanged() const noexcept;

  private:
    std::string path_;
    std::optional<RegularFile> file_;
    bool opened_ = false;
    bool checked_ = false;
};

}  // namespace orva::api
