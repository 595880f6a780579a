#pragma once

// Native-messaging frames, the same both ways: a 32-bit body length,
// little-endian, then the body (UTF-8 JSON, no NUL).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orva::native_host {

// The longest request body read: the most the browser ever sends.
inline constexpr std::uint32_t kMaxRequestBytes = 64u << 20;

enum class FrameStatus {
    message,     // a body of 1 byte or more
    empty,       // a frame of length 0
    refused,     // a body over kMaxRequestBytes, read and dropped
    endOfInput,  // input ended (or failed) inside a frame, or before one
};

// Reads frames from a file descriptor, through a buffer of its own.
class FrameReader {
  public:
    explicit FrameReader(int fd) noexcept : fd_(fd) {}
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // One frame; body holds it for FrameStatus::message and is empty otherwise.
    // Bytes of a frame cut short are dropped. A refused body is read in
    // bounded pieces and never held.
    FrameStatus read(std::string& body);

  private:
    // Exactly count bytes, appended to out (or dropped when out is null);
    // false when input ends first.
    bool take(std::size_t count, std::string* out);
    bool fill() noexcept;

    int fd_;
    std::array<char, 64 * 1024> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Writes one frame and answers whether all of it was written.
bool writeNativeMessage(int fd, std::string_view text) noexcept;

// The 4 length bytes of a body, least significant first.
std::array<char, 4> frameHeader(std::uint32_t length) noexcept;

}  // namespace orva::native_host
