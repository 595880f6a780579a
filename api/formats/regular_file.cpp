#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace orva::api {

std::optional<RegularFile> RegularFile::open(std::string_view path) {
    if (path.empty() || path.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string name(path);
    // Non-blocking, so that opening a FIFO with no writer returns at once and
    // fstat can refuse it.
    return adopt(
        FileDescriptor(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)));
}

std::optional<RegularFile> RegularFile::adopt(FileDescriptor fd) {
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return std::nullopt;
    }
    return RegularFile(std::move(fd), FileVersion::of(info));
}

bool RegularFile::unchanged() const noexcept {
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0) {
        return false;
    }
    // Not the change time: renaming or linking the file moves it, and a file
    // may be renamed under the library without a byte of it changing.
    const FileVersion now = FileVersion::of(info);
    return now.size == version_.size && now.modified.tv_sec == version_.modified.tv_sec &&
           now.modified.tv_nsec == version_.modified.tv_nsec;
}

std::optional<Bytes> RegularFile::readAll() const {
    if (size() > std::numeric_limits<std::size_t>::max()) {
        throw std::bad_alloc();
    }
    Bytes bytes(static_cast<std::size_t>(size()));
    const std::optional<std::size_t> done = readAt(0, bytes);
    if (!done) {
        return std::nullopt;
    }
    bytes.resize(*done);
    return bytes;
}

std::optional<std::size_t> RegularFile::readAt(std::uint64_t offset,
                                               std::span<std::uint8_t> out) const {
    std::size_t done = 0;
    while (done < out.size()) {
        std::uint64_t position = 0;
        if (__builtin_add_overflow(offset, done, &position) ||
            position > static_cast<std::uint64_t>(std::numeric_limits<::off_t>::max())) {
            return std::nullopt;
        }
        const ::ssize_t got = ::pread(fd_.get(), out.data() + done, out.size() - done,
                                      static_cast<::off_t>(position));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace orva::api
