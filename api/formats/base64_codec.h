#pragma once

// The library's own base64 codec: the standard alphabet, '=' padding, no line
// breaks written or accepted. Failure is -1; each caller maps it to its own
// result code.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "byte_buffer.h"
#include "regular_file.h"

namespace orva::api {

inline constexpr int kBase64Ok = 0;
inline constexpr int kBase64Failed = -1;

// The text length for n bytes, (n + 2) / 3 * 4, no terminator counted. Throws
// std::length_error when that does not fit a size_t.
std::size_t base64EncodedLength(std::size_t n);

// Encodes bytes into out: exactly base64EncodedLength(bytes.size()) characters
// and no terminator; length receives that count. No bytes give length 0. An out
// shorter than needed is -1 with nothing written and length unchanged.
int base64Encode(std::span<const std::uint8_t> bytes, std::span<char> out,
                 std::size_t& length) noexcept;

// Encodes bytes that come in pieces into out as the one text of their
// concatenation: up to two bytes wait for the next piece, so every group of
// three falls where it would in a single buffer. out must have room for
// base64EncodedLength of the whole; a write that would pass its end stops the
// writer, and finish then answers false.
class Base64Writer {
  public:
    explicit Base64Writer(std::span<char> out) noexcept : out_(out) {}

    void write(std::span<const std::uint8_t> bytes) noexcept;

    // Writes the waiting bytes as the last group with its padding; length
    // receives the text's length. false, length unchanged, once out fell short.
    bool finish(std::size_t& length) noexcept;

  private:
    bool putGroup(std::uint32_t group, std::size_t bytes) noexcept;

    std::span<char> out_;
    std::size_t at_ = 0;
    std::array<std::uint8_t, 3> held_{};
    std::size_t heldCount_ = 0;
    bool overflowed_ = false;
};

// The whole text as a string.
std::string base64Encode(std::span<const std::uint8_t> bytes);

// Checks a text and gives the number of bytes it decodes to: its length must be
// a multiple of 4, '=' may stand only as the last one or two characters, and
// every other character must be of the alphabet; else -1.
int base64DecodedLength(std::string_view text, std::size_t& length) noexcept;

// Decodes a text into out; length receives the byte count. A malformed text, or
// an out shorter than the decoded size, is -1 with nothing written and length
// unchanged. Bits below the last whole byte are dropped.
int base64Decode(std::string_view text, std::span<std::uint8_t> out, std::size_t& length) noexcept;

// The decoded bytes, or none for a malformed text.
std::optional<Bytes> base64Decode(std::string_view text);

// The base64 text of a whole regular file, or none when it cannot be opened or
// read (a missing file, a folder, a pipe or device). An empty file gives "".
std::optional<std::string> readFileAsBase64(std::string_view path);

// The same for a file already open, read from its start.
std::optional<std::string> readFileAsBase64(const RegularFile& file);

}  // namespace orva::api
