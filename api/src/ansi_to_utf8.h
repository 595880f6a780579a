#pragma once

// AnsiToUtf8: a text in the process's ANSI code page, in UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace orva::api {

// None when the text is not valid in the code page or does not fit an int.
std::optional<std::string> ansiToUtf8(std::string_view text);

}  // namespace orva::api
