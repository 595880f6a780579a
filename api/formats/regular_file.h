#pragma once

// A regular file opened for reading. Pipes, devices and folders are refused at
// open, so reading never blocks and never runs without end. Every read goes
// through the one descriptor, so whatever its path leads to later, the file
// read is the file opened.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "byte_buffer.h"
#include "orva/file_descriptor.h"
#include "orva/file_version.h"

namespace orva::api {

class RegularFile {
  public:
    // None when the path cannot be opened, holds a NUL, or is not a regular file.
    [[nodiscard]] static std::optional<RegularFile> open(std::string_view path);
    // A descriptor already open for reading; none when it is not a regular file.
    [[nodiscard]] static std::optional<RegularFile> adopt(FileDescriptor fd);

    // The size when it was opened.
    std::uint64_t size() const noexcept { return static_cast<std::uint64_t>(version_.size); }

    // Still as it was opened: the same size and modification time. A write
    // through any name moves them.
    [[nodiscard]] bool unchanged() const noexcept;

    // The file from its start, at most size() bytes (it may have shrunk since it
    // was opened, and what it grew by is not read); none on a read error. Throws
    // std::bad_alloc.
    [[nodiscard]] std::optional<Bytes> readAll() const;

    // Up to out.size() bytes from offset, fewer only where the file ends; none
    // on a read error or an offset beyond what off_t holds.
    [[nodiscard]] std::optional<std::size_t> readAt(std::uint64_t offset,
                                                    std::span<std::uint8_t> out) const;

  private:
    // A regular file's version: its size is never negative.
    RegularFile(FileDescriptor fd, const FileVersion& version) noexcept
        : fd_(std::move(fd)), version_(version) {}

    FileDescriptor fd_;
    FileVersion version_;
};

}  // namespace orva::api
