#pragma once

// Reading a descriptor to its end into a resizable byte container: a
// std::string, Bytes, or a vector with a wiping allocator for secrets, which
// then leaves no copy behind as it grows.

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace orva {

// What readAll got: the whole content with error 0; or the errno of the read
// that failed, or EFBIG when there is more than the limit (data then holds the
// first limit + 1 bytes, for a parser that names the size it refuses).
template <class Buffer>
struct ReadResult {
    Buffer data;
    int error = 0;
    explicit operator bool() const noexcept { return error == 0; }
};

// Reads fd until end of file, retrying interruptions; a read error is never
// taken for the end.
template <class Buffer>
ReadResult<Buffer> readAll(int fd, std::size_t limit) {
    constexpr std::size_t kChunk = 64 * 1024;
    ReadResult<Buffer> result;
    std::size_t size = 0;
    for (;;) {
        const std::size_t room = limit - size;
        const std::size_t want = room < kChunk ? room + 1 : kChunk;
        result.data.resize(size + want);
        const ssize_t got = ::read(fd, result.data.data() + size, want);
        const int readError = got < 0 ? errno : 0;
        size += got > 0 ? static_cast<std::size_t>(got) : 0;
        result.data.resize(size);
        if (readError == EINTR) {
            continue;
        }
        if (got <= 0) {
            result.error = readError;
            return result;
        }
        if (size > limit) {
            result.error = EFBIG;
            return result;
        }
    }
}

}  // namespace orva
