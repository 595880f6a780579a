// Reading and writing native-messaging frames over file descriptors.

#include "native_message.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace orva::native_host {

bool FrameReader::fill() noexcept {
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
        if (got > 0) {
            begin_ = 0;
            end_ = static_cast<std::size_t>(got);
            return true;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // End of input, or an error, which ends it just as well.
        return false;
    }
}

bool FrameReader::take(std::size_t count, std::string* out) {
    while (count > 0) {
        if (begin_ == end_ && !fill()) {
            return false;
        }
        const std::size_t n = std::min(count, end_ - begin_);
        if (out != nullptr) {
            // Grows with the bytes that arrive, never ahead of them.
            out->append(buffer_.data() + begin_, n);
        }
        begin_ += n;
        count -= n;
    }
    return true;
}

FrameStatus FrameReader::read(std::string& body) {
    body.clear();
    std::string header;
    if (!take(4, &header)) {
        return FrameStatus::endOfInput;
    }
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(header[i])) << (8 * i);
    }
    if (length == 0) {
        return FrameStatus::empty;
    }
    if (length > kMaxRequestBytes) {
        return take(length, nullptr) ? FrameStatus::refused : FrameStatus::endOfInput;
    }
    if (!take(length, &body)) {
        body.clear();
        return FrameStatus::endOfInput;
    }
    return FrameStatus::message;
}

std::array<char, 4> frameHeader(std::uint32_t length) noexcept {
    std::array<char, 4> header{};
    for (std::size_t i = 0; i < 4; ++i) {
        header[i] = static_cast<char>((length >> (8 * i)) & 0xFFu);
    }
    return header;
}

bool writeNativeMessage(int fd, std::string_view text) noexcept {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    std::array<char, 4> header = frameHeader(static_cast<std::uint32_t>(text.size()));
    iovec parts[2] = {{header.data(), header.size()},
                      {const_cast<char*>(text.data()), text.size()}};
    iovec* next = parts;
    int left = text.empty() ? 1 : 2;
    // Descriptor writes are not buffered: a frame is out when this returns.
    while (left > 0) {
        const ssize_t wrote = ::writev(fd, next, left);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        auto done = static_cast<std::size_t>(wrote);
        while (left > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --left;
        }
        if (left > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return true;
}

}  // namespace orva::native_host
