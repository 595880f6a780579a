#pragma once

// Texts between the process's ANSI code page, in which paths come and go, and
// UTF-8, in which pages and certificates speak.

#include <optional>
#include <string>
#include <string_view>

namespace orva::api {

// AnsiToUtf8. None when the text is not valid in the code page or does not fit
// an int.
[[nodiscard]] std::optional<std::string> ansiToUtf8(std::string_view text);

// A UTF-8 text in the ANSI code page, a character the code page lacks as '_'.
// None when the text is not valid UTF-8 or does not fit an int.
[[nodiscard]] std::optional<std::string> utf8ToAnsi(std::string_view text);

}  // namespace orva::api
