#pragma once

// The library's own base64 codec: the standard alphabet, '=' padding, no line
// breaks written or accepted. Each has one failure, none; each caller maps it
// to its own result code.

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

// The text length for n bytes, (n + 2) / 3 * 4, no terminator counted. Throws
// std::length_error when that does not fit a size_t.
std::size_t base64EncodedLength(std::size_t n);

// Encodes bytes into out: exactly base64EncodedLength(bytes.size()) characters
// and no terminator; gives that count. No bytes give 0. An out shorter than
// needed is none with nothing written.
[[nodiscard]] std::optional<std::size_t> base64Encode(std::span<const std::uint8_t> bytes,
                                                      std::span<char> out) noexcept;

// Encodes bytes that come in pieces into out as the one text of their
// concatenation: up to two bytes wait for the next piece, so every group of
// three falls where it would in a single buffer. out must have room for
// base64EncodedLength of the whole; a write that would pass its end stops the
// writer, and finish then answers none.
class Base64Writer {
  public:
    explicit Base64Writer(std::span<char> out) noexcept : out_(out) {}

    void write(std::span<const std::uint8_t> bytes) noexcept;

    // Writes the waiting bytes as the last group with its padding; gives the
    // text's length, or none once out fell short.
    [[nodiscard]] std::optional<std::size_t> finish() noexcept;

  private:
    // false, the writer overflowed, when out has no room for the group.
    [[nodiscard]] bool putGroup(std::uint32_t group, std::size_t bytes) noexcept;

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
// every other character must be of the alphabet; else none.
[[nodiscard]] std::optional<std::size_t> base64DecodedLength(std::string_view text) noexcept;

// Decodes a text into out and gives the byte count. A malformed text, or an out
// shorter than the decoded size, is none with nothing written. Bits below the
// last whole byte are dropped.
[[nodiscard]] std::optional<std::size_t> base64Decode(std::string_view text,
                                                      std::span<std::uint8_t> out) noexcept;

// The decoded bytes, or none for a malformed text.
[[nodiscard]] std::optional<Bytes> base64Decode(std::string_view text);

// The base64 text of a whole regular file, or none when it cannot be opened or
// read (a missing file, a folder, a pipe or device). An empty file gives "".
[[nodiscard]] std::optional<std::string> readFileAsBase64(std::string_view path);

// The same for a file already open, read from its start.
[[nodiscard]] std::optional<std::string> readFileAsBase64(const RegularFile& file);

}  // namespace orva::api
