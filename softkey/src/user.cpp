#include "user.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <limits>

#include "json.h"
#include "orva/iconv.h"

namespace orva::softkey {

namespace {

[[noreturn]] void malformed(const std::string& what) {
    throw StoreError(StoreErrorKind::malformed, std::string(kUserFile) + ": " + what);
}

// Overlays the fields a level of user.json names onto user.
void readLevel(const cJSON* level, ScriptedUser& user) {
    if (!cJSON_IsObject(level)) {
        malformed("not an object");
    }
    if (const cJSON* item = json::member(level, "button"); item != nullptr) {
        const auto name = json::string(item);
        const auto button = name ? buttonFromName(*name) : std::nullopt;
        if (!button) {
            malformed("button is not confirm, cancel, timeout or broken");
        }
        user.button = *button;
    }
    for (auto [field, target] : {std::pair{"pin", &user.pin}, std::pair{"newPin", &user.newPin}}) {
        if (const cJSON* item = json::member(level, field); item != nullptr) {
            const auto pin = json::string(item);
            if (!pin || !isValidPin(*pin)) {
                malformed(std::string(field) + " is not a PIN");
            }
            target->emplace(pin->data(), pin->size());
        }
    }
}

std::string nowUtc() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%03dZ", static_cast<int>(millis));
    return std::string(text, n) + frac;
}

}  // namespace

std::string_view buttonName(Button button) noexcept {
    switch (button) {
        case Button::confirm:
            return "confirm";
        case Button::cancel:
            return "cancel";
        case Button::timeout:
            return "timeout";
        case Button::broken:
            return "broken";
    }
    return "confirm";
}

std::optional<Button> buttonFromName(std::string_view name) noexcept {
    for (const Button b : {Button::confirm, Button::cancel, Button::timeout, Button::broken}) {
        if (buttonName(b) == name) {
            return b;
        }
    }
    return std::nullopt;
}

ScriptedUser scriptedUser(const Store& store, const std::string& serial) {
    ScriptedUser user;
    const auto text = store.readText(kUserFile);
    if (!text) {
        return user;
    }
    const json::Ptr doc = json::parse(*text);
    if (doc == nullptr) {
        malformed("not JSON");
    }
    readLevel(doc.get(), user);
    if (const cJSON* keys = json::member(doc.get(), "keys"); keys != nullptr) {
        if (!cJSON_IsObject(keys)) {
            malformed("keys is not an object");
        }
        if (const cJSON* own = json::member(keys, serial.c_str()); own != nullptr) {
            readLevel(own, user);
        }
    }
    return user;
}

void setScriptedUser(Store& store, const std::optional<std::string>& serial,
                     const ScriptedUser& user) {
    store.modifyText(kUserFile, false, [&](std::optional<std::string> current) {
        json::Ptr doc = current ? json::parse(*current) : json::object();
        if (!cJSON_IsObject(doc.get())) {
            malformed("not a JSON object");
        }
        cJSON* level = doc.get();
        if (serial) {
            cJSON* keys = cJSON_GetObjectItemCaseSensitive(level, "keys");
            if (keys == nullptr) {
                keys = json::add(level, "keys", json::object());
            } else if (!cJSON_IsObject(keys)) {
                malformed("keys is not an object");
            }
            cJSON_DeleteItemFromObjectCaseSensitive(keys, serial->c_str());
            level = json::add(keys, serial->c_str(), json::object());
        } else {
            for (const char* field : {"button", "pin", "newPin"}) {
                cJSON_DeleteItemFromObjectCaseSensitive(level, field);
            }
        }
        json::addString(level, "button", buttonName(user.button));
        if (user.pin) {
            json::addString(level, "pin", std::string_view(user.pin->data(), user.pin->size()));
        }
        if (user.newPin) {
            json::addString(level, "newPin",
                            std::string_view(user.newPin->data(), user.newPin->size()));
        }
        const SecureString text = json::print(doc.get(), true);
        return std::optional<std::string>(std::string(text.data(), text.size()) + "\n");
    });
}

std::optional<std::string> decodeCharset(std::span<const std::uint8_t> text, std::int32_t charset) {
    const char* from = charset == 1   ? "GBK"
                       : charset == 2 ? "UTF-8"
                       : charset == 3 ? "GB18030"
                                      : nullptr;
    if (from == nullptr) {
        return std::nullopt;
    }
    orva::Iconv cd;
    if (!cd.open("UTF-8", from)) {
        return std::nullopt;
    }
    // The longest expansion is a single byte that becomes three (GBK's 0x80 is
    // the euro sign); two-byte characters become at most three bytes and
    // four-byte GB18030 ones at most four.
    constexpr std::size_t kMaxExpansion = 3;
    if (text.size() > (std::numeric_limits<std::size_t>::max() - 8) / kMaxExpansion) {
        return std::nullopt;
    }
    std::string out(text.size() * kMaxExpansion + 8, '\0');
    const char* in = reinterpret_cast<const char*>(text.data());
    std::size_t inLeft = text.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    if (cd.convert(in, inLeft, dst, outLeft) != 0 || cd.finish(dst, outLeft) != 0) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string displayLogLine(const DisplayShow& show, std::string_view time) {
    json::Ptr doc = json::object();
    cJSON* o = doc.get();
    json::addString(o, "time", time);
    json::addString(o, "serial", show.serial);
    json::addNumber(o, "language", show.language);
    json::addNumber(o, "charset", show.charset);
    for (auto [name, bytes] :
         {std::pair{"warning", &show.warning}, std::pair{"display", &show.display}}) {
        json::addString(o, (std::string(name) + "Base64").c_str(), toBase64(*bytes));
        if (const auto text = decodeCharset(*bytes, show.charset);
            text && text->find('\0') == std::string::npos) {
            json::addString(o, name, *text);
        } else {
            json::add(o, name, json::Ptr(json::made(cJSON_CreateNull())));
        }
    }
    json::addNumber(o, "form", show.form);
    json::addString(o, "outcome", show.outcome);
    json::addNumber(o, "status", show.status);
    const SecureString text = json::print(o, false);
    return std::string(text.data(), text.size());
}

void appendDisplayShow(const Store& store, const DisplayShow& show) {
    store.appendLine(kDisplayLogFile, displayLogLine(show, nowUtc()));
}

}  // namespace orva::softkey
