#pragma once

// The front ends' text conversions between the browser's UTF-8, GB18030 and
// the ANSI code page, over the platform's code-page services. Counts include
// the terminating NUL, as the Windows calls count them.
//
// Stricter than the code-page calls' defaults: UTF-8 that is not valid, and a
// character the target code page cannot hold, fail the conversion instead of
// becoming U+FFFD or '?', because the result is signed or names a file.

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "win32/codepage.h"

namespace orva::frontend {

// A converted text owned by its caller: the bytes, their NUL, and zero-filled
// room after it.
class ConvertedText {
  public:
    ConvertedText(std::vector<char> bytes, std::size_t written) noexcept
        : bytes_(std::move(bytes)), written_(written) {}

    const char* c_str() const noexcept { return bytes_.data(); }
    // The bytes the conversion wrote, the NUL included.
    std::size_t written() const noexcept { return written_; }
    // The text's length without its NUL.
    std::size_t length() const noexcept { return written_ - 1; }

  private:
    std::vector<char> bytes_;
    std::size_t written_;
};

// The code-page calls the conversions make; tests replace them to make one
// step fail.
struct CodePageServices {
    decltype(&MultiByteToWideChar) toWide;
    decltype(&WideCharToMultiByte) fromWide;
};
const CodePageServices& platformCodePages() noexcept;

// UTF-8 to code page 54936, or to 936 when 54936 cannot be had; nullopt for a
// null text, a text that does not convert, or no memory. "" gives one NUL byte.
std::optional<ConvertedText> utf8ToGb18030(
    const char* utf8, const CodePageServices& services = platformCodePages()) noexcept;

// UTF-8 to the ANSI code page, and back; same rules, no fallback.
std::optional<ConvertedText> utf8ToAnsi(
    const char* utf8, const CodePageServices& services = platformCodePages()) noexcept;
std::optional<ConvertedText> ansiToUtf8(
    const char* ansi, const CodePageServices& services = platformCodePages()) noexcept;

// UTF-8 to code page 54936 into a caller's buffer: with a null destination the
// size the text needs, else the bytes written; both with the NUL. 0 for a null
// or unconvertible text and for a destination shorter than the text.
std::size_t utf8ToGb18030Into(const char* utf8, char* destination, std::size_t capacity,
                              const CodePageServices& services = platformCodePages()) noexcept;

}  // namespace orva::frontend
