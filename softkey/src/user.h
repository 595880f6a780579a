#pragma once

// The person at the key. On a software key a scripted user answers the key's
// button and types the PINs the key asks for itself; the script lives in the
// store's user.json so that it reaches every process using the key:
//   {"button": "confirm", "pin": "...", "newPin": "...",
//    "keys": {"<SN>": {"button": "cancel", ...}}}
// A key's entry overrides the top-level fields it names. Everything the key shows
// is appended to display.log, one JSON object per line.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "secure_bytes.h"
#include "store.h"

namespace orva::softkey {

enum class Button { confirm, cancel, timeout, broken };

std::string_view buttonName(Button button) noexcept;
std::optional<Button> buttonFromName(std::string_view name) noexcept;

struct ScriptedUser {
    Button button = Button::confirm;
    std::optional<SecureString> pin;     // what the user types when the key asks for the PIN
    std::optional<SecureString> newPin;  // what the user types when asked for a new PIN
};

// The user of a key as user.json scripts it (the default user: confirm, no PINs).
// Throws StoreError (malformed) when user.json is not valid.
ScriptedUser scriptedUser(const Store& store, const std::string& serial);

// Sets the top-level script (no serial) or a key's own; fields left empty are
// removed from that level.
void setScriptedUser(Store& store, const std::optional<std::string>& serial,
                     const ScriptedUser& user);

// One show of the key's display and how it ended.
struct DisplayShow {
    std::string serial;
    std::int32_t language = 0;
    std::int32_t charset = 0;  // 1 GBK, 2 UTF-8, 3 GB18030
    Bytes warning;
    Bytes display;
    std::uint32_t form = 0;  // packet form
    std::string
        outcome;  // signed, cancelled, timeout, broken, wrongPin, pinLocked, defaultPin, failed
    std::uint32_t status = 0;
};

// The text in a charset as UTF-8, or nothing when it does not decode in it (or
// the charset is not one of 1, 2, 3).
std::optional<std::string> decodeCharset(std::span<const std::uint8_t> text, std::int32_t charset);

// The log line of a show at a time (ISO 8601 UTC): {"time", "serial", "language",
// "charset", "warningBase64", "warning", "displayBase64", "display", "form",
// "outcome", "status"}; "warning" and "display" are null when they do not decode.
std::string displayLogLine(const DisplayShow& show, std::string_view time);

// Appends a show to the store's display.log, stamped with the current time.
void appendDisplayShow(const Store& store, const DisplayShow& show);

inline constexpr const char* kUserFile = "user.json";
inline constexpr const char* kDisplayLogFile = "display.log";

}  // namespace orva::softkey
