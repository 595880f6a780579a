#pragma once

// A request's keys, checked and converted as the command table's key classes
// say. Keys are read one after another in the table's order; the first that
// fails decides the reply (kInvalidParameter missing or unusable, kMallocFailed a failed
// conversion) and every later read answers nothing, so no export is called.

#include <cjson/cJSON.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "current_charset.h"
#include "orva_result_codes.h"
#include "text_conversion.h"

namespace orva::native_host {

// A text argument for an export: none (a null argument), the request's own
// string, or a converted text owned here.
class ArgumentText {
  public:
    static ArgumentText none() noexcept { return ArgumentText(); }
    static ArgumentText borrowed(const char* text) noexcept;
    static ArgumentText converted(frontend::ConvertedText text) noexcept;

    const char* get() const noexcept;
    // Bytes without the NUL (0 for none).
    std::size_t length() const noexcept { return length_; }
    // The count the conversion reported, NUL included; the length when the
    // text was passed as received.
    std::size_t charsetCount() const noexcept { return count_; }

  private:
    ArgumentText() noexcept = default;
    const char* borrowed_ = nullptr;
    std::optional<frontend::ConvertedText> owned_;
    std::size_t length_ = 0;
    std::size_t count_ = 0;
};

// true when the text is not empty and holds only the digits 0 to 9.
bool isAllDigits(const char* text) noexcept;

// A JSON number (truncated toward zero) or a digits-only string as a 32-bit
// int; false for anything else, and for values outside the int range, which
// would otherwise name another offset or size.
bool readJsonInt(const cJSON* item, std::int32_t& value) noexcept;

class RequestKeys {
  public:
    RequestKeys(const cJSON* request, const frontend::CurrentCharset& charset) noexcept
        : request_(request), charset_(charset) {}

    // present with a non-empty string value
    std::optional<const char*> text(const char* key);
    // present with a string value, "" allowed
    std::optional<const char*> string(const char* key);
    // present with any value: its string, or null for any other type
    std::optional<const char*> present(const char* key);
    // present with any value; the item itself
    const cJSON* item(const char* key);
    // a text, converted by the host's charset rule
    std::optional<ArgumentText> charsetText(const char* key);
    // present with any value: a non-empty string converted to the ANSI code
    // page, none for "" and for other types; a string that does not convert
    // fails (kMallocFailed) rather than dropping the file the page named
    std::optional<ArgumentText> path(const char* key);
    // present and readable by readJsonInt
    std::optional<std::int32_t> integer(const char* key);

    // Lets a handler fail a key on its own check.
    void fail(ApiErrorCode code) noexcept;
    bool failed() const noexcept { return failure_ != kSuccess; }
    ApiErrorCode failure() const noexcept { return failure_; }

  private:
    const cJSON* find(const char* key) noexcept;

    const cJSON* request_;
    const frontend::CurrentCharset& charset_;
    ApiErrorCode failure_ = kSuccess;
};

}  // namespace orva::native_host
