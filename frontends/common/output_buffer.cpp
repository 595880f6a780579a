#include "output_buffer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace orva::frontend {

OutputBuffer::OutputBuffer(std::uint64_t room, std::size_t spare) noexcept {
    if (room == 0 || room > INT_MAX || spare > SIZE_MAX - room) {
        return;
    }
    bytes_.reset(static_cast<char*>(std::calloc(static_cast<std::size_t>(room) + spare, 1)));
    if (bytes_) {
        room_ = static_cast<int>(room);
        length_ = room_;
    }
}

OutputBuffer OutputBuffer::required(std::uint64_t room, std::size_t spare) {
    OutputBuffer buffer(room, spare);
    if (!buffer) {
        throw std::bad_alloc();
    }
    return buffer;
}

std::string_view OutputBuffer::text() const noexcept {
    if (!bytes_) {
        return {};
    }
    return {bytes_.get(), strnlen(bytes_.get(), static_cast<std::size_t>(room_))};
}

std::string_view OutputBuffer::reportedText() const noexcept {
    const std::string_view whole = text();
    const std::size_t reported = length_ > 0 ? static_cast<std::size_t>(length_) : 0;
    return whole.substr(0, std::min(reported, whole.size()));
}

}  // namespace orva::frontend
