#pragma once

// What the 38 methods share: reading a page's arguments, the output buffers
// handed to the library, the charset rule for the signing texts, and the two
// kinds of result.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api_function_table.h"
#include "npapi/npapi.h"
#include "orva_result_codes.h"
#include "output_buffer.h"
#include "scriptable_object.h"
#include "text_conversion.h"

namespace orva::npapi_plugin {

// Thrown by a method step to answer a code at once (an argument refused, a
// conversion that failed); Invoke turns it into the Int32 result.
struct MethodAnswer {
    ApiErrorCode code;
};

// The arguments of one call, as the page passed them.
class Arguments {
  public:
    Arguments(const NPVariant* args, uint32_t count) noexcept
        : args_(args), count_(args != nullptr ? count : 0) {}

    // kInvalidParameter unless at least count arguments were passed.
    void require(uint32_t count) const;
    bool isString(uint32_t n) const noexcept;
    // A String argument's bytes; kInvalidParameter for a missing or other argument.
    std::string_view string(uint32_t n) const;
    // A String shorter than limit bytes, as a NUL-terminated copy; kInvalidParameter otherwise.
    std::string boundedText(uint32_t n, std::size_t limit) const;
    // A String of any length, as a NUL-terminated copy; kInvalidParameter otherwise.
    std::string text(uint32_t n) const { return std::string(string(n)); }
    // A non-empty String as a path in the ANSI code page; kInvalidParameter when empty,
    // kConvertStringError when it does not convert.
    frontend::ConvertedText path(uint32_t n) const;
    // A number as a page may pass one: a String read as leading decimal
    // digits, an Int32, a Double truncated toward zero; anything else is 0.
    // kInvalidParameter for what is no 32-bit integer (NaN, infinities, out of range).
    int32_t number(uint32_t n) const;

  private:
    const NPVariant* args_;
    uint32_t count_;
};

// The transaction and display texts of the signing methods after the
// plug-in's charset rule, with the transaction length the library is given;
// kInvalidParameter for an empty transaction.
struct SigningTexts {
    std::string transaction;
    std::string display;
    int transactionLength;
};
SigningTexts signingTexts(const Arguments& args, uint32_t transaction, uint32_t display);

// The Int32 result.
void answerCode(NPVariant* result, int32_t code) noexcept;
inline void answerCode(NPVariant* result, ApiErrorCode code) noexcept {
    answerCode(result, code.number());
}
// A String result in browser memory; false when none could be had.
bool answerString(NPVariant* result, std::string_view text) noexcept;
// A text result, passed through held slot 1 and released from it; kMallocFailed when
// browser memory runs out.
void answerText(ScriptablePluginObject& self, NPVariant* result, std::string_view text) noexcept;
// The code on failure, else the buffer's text; code is the number the export answered.
void answerOutput(ScriptablePluginObject& self, NPVariant* result, int code,
                  const frontend::OutputBuffer& output) noexcept;

// One method call.
struct MethodCall {
    ScriptablePluginObject& self;
    const Arguments& args;
    NPVariant* result;
    const frontend::ApiFunctionTable& api;
};
using Method = void (*)(const MethodCall& call);

}  // namespace orva::npapi_plugin
