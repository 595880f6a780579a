// Script values and the command line.

#include "script_value.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

namespace orva::npapi_host {

std::vector<NPVariant> toVariants(const std::vector<ScriptValue>& values) {
    std::vector<NPVariant> variants(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        NPVariant& variant = variants[i];
        const ScriptValue& value = values[i];
        if (std::holds_alternative<std::nullptr_t>(value)) {
            variant.type = NPVariantType_Null;
        } else if (const bool* flag = std::get_if<bool>(&value)) {
            variant.type = NPVariantType_Bool;
            variant.value.boolValue = *flag;
        } else if (const int32_t* integer = std::get_if<int32_t>(&value)) {
            variant.type = NPVariantType_Int32;
            variant.value.intValue = *integer;
        } else if (const double* number = std::get_if<double>(&value)) {
            variant.type = NPVariantType_Double;
            variant.value.doubleValue = *number;
        } else if (const std::string* text = std::get_if<std::string>(&value)) {
            variant.type = NPVariantType_String;
            variant.value.stringValue = {text->data(), static_cast<uint32_t>(text->size())};
        } else {
            variant.type = NPVariantType_Void;
        }
    }
    return variants;
}

ScriptValue fromVariant(const NPVariant& variant) {
    switch (variant.type) {
        case NPVariantType_Null:
            return nullptr;
        case NPVariantType_Bool:
            return variant.value.boolValue;
        case NPVariantType_Int32:
            return variant.value.intValue;
        case NPVariantType_Double:
            return variant.value.doubleValue;
        case NPVariantType_String: {
            const NPString& text = variant.value.stringValue;
            return std::string(text.UTF8Characters != nullptr ? text.UTF8Characters : "",
                               text.UTF8Characters != nullptr ? text.UTF8Length : 0);
        }
        default:
            return std::monostate{};
    }
}

ScriptValue parseArgument(std::string_view argument) {
    if (argument == "true" || argument == "false") {
        return argument == "true";
    }
    if (argument == "null") {
        return nullptr;
    }
    if (argument == "undefined") {
        return std::monostate{};
    }
    if (argument == "NaN") {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (argument == "Infinity" || argument == "-Infinity") {
        return argument[0] == '-' ? -std::numeric_limits<double>::infinity()
                                  : std::numeric_limits<double>::infinity();
    }
    if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"') {
        return std::string(argument.substr(1, argument.size() - 2));
    }
    const char* begin = argument.data();
    const char* end = begin + argument.size();
    int32_t integer = 0;
    if (auto [rest, error] = std::from_chars(begin, end, integer);
        error == std::errc() && rest == end) {
        return integer;
    }
    double number = 0;
    if (auto [rest, error] = std::from_chars(begin, end, number);
        error == std::errc() && rest == end) {
        return number;
    }
    return std::string(argument);
}

std::string printable(const ScriptValue& value) {
    if (std::holds_alternative<std::nullptr_t>(value)) {
        return "null";
    }
    if (const bool* flag = std::get_if<bool>(&value)) {
        return *flag ? "true" : "false";
    }
    if (const int32_t* integer = std::get_if<int32_t>(&value)) {
        return std::to_string(*integer);
    }
    if (const double* number = std::get_if<double>(&value)) {
        std::ostringstream out;
        out << *number;
        return out.str();
    }
    if (const std::string* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    return "undefined";
}

}  // namespace orva::npapi_host
