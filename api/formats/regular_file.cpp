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
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    RegularFile file(FileDescriptor(fd), 0);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return std::nullopt;
    }
    file.size_ = static_cast<std::uint64_t>(info.st_size);
    return file;
}

std::optional<Bytes> RegularFile::readAll() const {
    if (size_ > std::numeric_limits<std::size_t>::max()) {
        throw std::bad_alloc();
    }
    Bytes bytes(static_cast<std::size_t>(size_));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ::ssize_t got = ::pread(fd_.get(), bytes.data() + done, bytes.size() - done,
                                      static_cast<::off_t>(done));
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
    bytes.resize(done);
    return bytes;
}

}  // namespace orva::api
