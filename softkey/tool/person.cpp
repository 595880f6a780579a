// The person at the key: the script they follow, and what the keys showed them.

#include <algorithm>
#include <cstdio>

#include "json.h"
#include "tool.h"
#include "user.h"

namespace orva::softkey::tool {

namespace {

std::string hexStatus(std::uint32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", status);
    return text;
}

// A shown text as UTF-8, continuation lines indented under their label; one that
// did not decode in its charset as its bytes in base64.
std::string shownText(const cJSON* line, const char* field, const std::string& base64Field) {
    if (const auto text = json::string(line, field)) {
        std::string out;
        for (const char c : *text) {
            out += c;
            if (c == '\n') {
                out += "    ";
            }
        }
        return out;
    }
    return "(not in its charset) base64:" +
           std::string(json::string(line, base64Field.c_str()).value_or(""));
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        if (end > 0) {
            lines.push_back(text.substr(0, end));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

bool lineOfKey(std::string_view line, const std::optional<std::string>& serial) {
    if (!serial) {
        return true;
    }
    const json::Ptr doc = json::parse(line);
    return json::string(doc.get(), "serial") == std::optional<std::string_view>(*serial);
}

}  // namespace

int runUser(Invocation& in) {
    std::optional<std::string> serial = in.value("sn");
    if (serial && !isValidSerial(*serial)) {
        throw UsageError("not a valid serial: '" + *serial + "'");
    }
    Store& store = in.store();
    if (in.has("show")) {
        if (in.has("button") || in.has("pin") || in.has("new-pin")) {
            throw UsageError("--show changes nothing; give it alone");
        }
        const ScriptedUser user = scriptedUser(store, serial.value_or(""));
        printLine("button: " + std::string(buttonName(user.button)));
        printLine("pin: " + (user.pin ? std::string(user.pin->data(), user.pin->size()) : "none"));
        printLine("new pin: " +
                  (user.newPin ? std::string(user.newPin->data(), user.newPin->size()) : "none"));
        return 0;
    }
    ScriptedUser user;
    if (const auto name = in.value("button")) {
        const auto button = buttonFromName(*name);
        if (!button) {
            throw UsageError("--button must be confirm, cancel, timeout or broken, not '" + *name +
                             "'");
        }
        user.button = *button;
    }
    for (auto [option, target] :
         {std::pair{"pin", &user.pin}, std::pair{"new-pin", &user.newPin}}) {
        if (const auto pin = in.value(option)) {
            if (!isValidPin(*pin)) {
                throw UsageError(std::string("--") + option + ": a PIN has 1 to " +
                                 std::to_string(kPinMaxBytes) + " bytes");
            }
            target->emplace(pin->data(), pin->size());
        }
    }
    setScriptedUser(store, serial, user);
    return 0;
}

int runDisplay(Invocation& in) {
    const std::optional<std::string> serial = in.value("sn");
    Store& store = in.store();
    if (in.has("clear")) {
        store.modifyText(kDisplayLogFile, false, [&](std::optional<std::string> current) {
            std::string kept;
            if (serial && current) {
                for (const std::string_view line : splitLines(*current)) {
                    if (!lineOfKey(line, serial)) {
                        kept.append(line).push_back('\n');
                    }
                }
            }
            return kept.empty() ? std::nullopt : std::optional<std::string>(kept);
        });
        return 0;
    }
    const std::string log = store.readText(kDisplayLogFile).value_or("");
    std::size_t number = 0;
    for (const std::string_view line : splitLines(log)) {
        ++number;
        const json::Ptr doc = json::parse(line);
        if (!cJSON_IsObject(doc.get())) {
            std::fprintf(stderr, "softkey: %s line %zu is not JSON; passed over\n", kDisplayLogFile,
                         number);
            continue;
        }
        const cJSON* o = doc.get();
        const std::string lineSerial(json::string(o, "serial").value_or(""));
        if (serial && lineSerial != *serial) {
            continue;
        }
        if (in.has("json")) {
            printLine(line);
            continue;
        }
        const auto number32 = [&](const char* field) {
            const cJSON* item = json::member(o, field);
            return cJSON_IsNumber(item) ? std::to_string(static_cast<long long>(item->valuedouble))
                                        : std::string("?");
        };
        printLine(std::string(json::string(o, "time").value_or("?")) + " " + lineSerial +
                  " language " + number32("language") + " charset " + number32("charset") +
                  " form " + number32("form") + " " +
                  std::string(json::string(o, "outcome").value_or("?")) + " status " +
                  hexStatus(json::uint(o, "status").value_or(0)));
        printLine("  warning: " + shownText(o, "warning", "warningBase64"));
        printLine("  display: " + shownText(o, "display", "displayBase64"));
    }
    return 0;
}

}  // namespace orva::softkey::tool
