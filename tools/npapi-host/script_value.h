#pragma once

// Script values as a page passes them and gets them back, and their
// spelling on the command line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "npapi/npapi.h"

namespace orva::npapi_host {

// undefined, null, a boolean, an integer, a number, a string.
using ScriptValue =
    std::variant<std::monostate, std::nullptr_t, bool, int32_t, double, std::string>;

// Variants that point into the values' strings, which must outlive them.
std::vector<NPVariant> toVariants(const std::vector<ScriptValue>& values);
// A plug-in's result; an object comes back as undefined.
ScriptValue fromVariant(const NPVariant& variant);

// A command-line argument as a script would pass it: true, false, null and
// undefined; an integer within 32 bits, another number (NaN and Infinity
// included); "text" in double quotes as the text inside them; anything else
// as a string.
ScriptValue parseArgument(std::string_view argument);
// A value as the command line prints it: strings as their bytes.
std::string printable(const ScriptValue& value);

}  // namespace orva::npapi_host
