// Keys as a whole: create, list, show, plug, unplug, delete, and the key's own
// settings (admin-key state, PIN, languages).

#include <openssl/rand.h>

#include <algorithm>

#include "certificates.h"
#include "json.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace {

constexpr const char* kDefaultPin = "12345678";
constexpr int kSerialAttempts = 20;

std::string placeName(KeyPlace place) {
    return place == KeyPlace::present ? "present" : "removed";
}

// "SK" and 10 random digits.
std::string generatedSerial() {
    std::uint8_t bytes[8];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        throw Failure("no random bytes");
    }
    std::uint64_t value = 0;
    for (const std::uint8_t b : bytes) {
        value = value << 8 | b;
    }
    std::string digits = std::to_string(value % 10000000000ull);
    return "SK" + std::string(10 - digits.size(), '0') + digits;
}

std::string serialArgument(const Invocation& in) {
    const std::string& serial = in.positional().at(0);
    if (!isValidSerial(serial)) {
        throw UsageError("not a valid serial: '" + serial + "'");
    }
    return serial;
}

std::string joinCodes(const std::vector<std::uint8_t>& codes) {
    std::string text;
    for (const std::uint8_t code : codes) {
        text += (text.empty() ? "" : ",") + std::to_string(code);
    }
    return text;
}

// What a certificate file holds, by its subject; a file that is no certificate
// (the key stores whatever it is given) says so.
struct CertSummary {
    bool present = false;
    bool decodes = false;
    std::string subject;
    std::string issuer;
    std::size_t size = 0;
};

CertSummary summarize(const Bytes& der) {
    CertSummary summary;
    summary.present = !der.empty();
    summary.size = der.size();
    if (!summary.present) {
        return summary;
    }
    try {
        const X509Ptr cert = certificateFromDer(der);
        summary.subject = subjectText(X509_get_subject_name(cert.get()));
        summary.issuer = subjectText(X509_get_issuer_name(cert.get()));
        summary.decodes = true;
    } catch (const Failure&) {
    }
    return summary;
}

std::string certLine(const CertSummary& c) {
    if (!c.present) {
        return "none";
    }
    return c.decodes ? c.subject : "not a certificate (" + std::to_string(c.size) + " bytes)";
}

void showSlotText(std::string& out, const char* name, const KeySlot& slot) {
    const std::string prefix = std::string("  ") + name;
    out += prefix + " key: " + algorithmName(slot.algorithm) + "\n";
    if (slot.hasKey()) {
        out += prefix + " key files: " + std::to_string(slot.privateFid) + " " +
               std::to_string(slot.publicFid()) + "\n";
    }
    out += prefix + " certificate: " + certLine(summarize(slot.certificate)) + "\n";
}

json::Ptr slotJson(const KeySlot& slot) {
    json::Ptr o = json::object();
    json::addNumber(o.get(), "algorithm", slot.algorithm);
    json::addString(o.get(), "algorithmName", algorithmName(slot.algorithm));
    json::addNumber(o.get(), "privateFid", slot.privateFid);
    json::addNumber(o.get(), "publicFid", slot.publicFid());
    const CertSummary c = summarize(slot.certificate);
    if (!c.present) {
        json::add(o.get(), "certificate", json::Ptr(json::made(cJSON_CreateNull())));
    } else {
        json::Ptr cert = json::object();
        json::addNumber(cert.get(), "size", static_cast<double>(c.size));
        if (c.decodes) {
            json::addString(cert.get(), "subject", c.subject);
            json::addString(cert.get(), "issuer", c.issuer);
        }
        json::add(o.get(), "certificate", std::move(cert));
    }
    return o;
}

std::string showText(const Token& t, KeyPlace place) {
    std::string out;
    out += "serial: " + t.serial + "\n";
    out += "label: " + t.label + "\n";
    out += "place: " + placeName(place) + "\n";
    out += "pin tries left: " + std::to_string(t.pin.triesLeft) + " of " +
           std::to_string(t.pin.maxTries) + "\n";
    out += std::string("default pin: ") + (t.pin.isDefault ? "yes" : "no") + "\n";
    out += "languages: " + joinCodes(t.languages) + "\n";
    out += "language: " + std::to_string(t.language) + "\n";
    out += "admin state: " + std::to_string(t.adminState) + "\n";
    out += "capacity: " + std::to_string(t.capacity) + "\n";
    out += "containers: " + std::to_string(t.containers.size()) + "\n";
    for (const auto& [index, c] : t.containers) {
        out += "container: " + std::to_string(index) + "\n";
        out += "  name: " + c.name + "\n";
        out += "  type: " + std::to_string(c.type) + "\n";
        out += "  usage: " + std::to_string(c.usage) + "\n";
        showSlotText(out, "signature", c.signature);
        showSlotText(out, "exchange", c.exchange);
    }
    return out;
}

std::string showJson(const Token& t, KeyPlace place) {
    json::Ptr doc = json::object();
    cJSON* r = doc.get();
    json::addString(r, "serial", t.serial);
    json::addString(r, "label", t.label);
    json::addBool(r, "present", place == KeyPlace::present);
    json::Ptr pin = json::object();
    json::addNumber(pin.get(), "triesLeft", t.pin.triesLeft);
    json::addNumber(pin.get(), "maxTries", t.pin.maxTries);
    json::addBool(pin.get(), "defaultPin", t.pin.isDefault);
    json::add(r, "pin", std::move(pin));
    json::Ptr languages = json::array();
    for (const std::uint8_t code : t.languages) {
        json::addNumber(languages.get(), nullptr, code);
    }
    json::add(r, "languages", std::move(languages));
    json::addNumber(r, "language", t.language);
    json::addNumber(r, "adminState", t.adminState);
    json::addNumber(r, "capacity", t.capacity);
    json::Ptr containers = json::array();
    for (const auto& [index, c] : t.containers) {
        json::Ptr o = json::object();
        json::addNumber(o.get(), "index", index);
        json::addString(o.get(), "name", c.name);
        json::addNumber(o.get(), "type", c.type);
        json::addNumber(o.get(), "usage", c.usage);
        json::add(o.get(), "signature", slotJson(c.signature));
        json::add(o.get(), "exchange", slotJson(c.exchange));
        json::add(containers.get(), nullptr, std::move(o));
    }
    json::add(r, "containers", std::move(containers));
    const SecureString text = json::print(r, true);
    return std::string(text.data(), text.size()) + "\n";
}

}  // namespace

int runCreate(Invocation& in) {
    const std::string pin = in.value("pin").value_or(kDefaultPin);
    if (!isValidPin(pin)) {
        throw UsageError("a PIN has 1 to " + std::to_string(kPinMaxBytes) + " bytes");
    }
    const std::string label = in.value("label").value_or("");
    if (label.size() > kLabelMaxChars) {
        throw UsageError("a label has at most " + std::to_string(kLabelMaxChars) + " bytes");
    }
    std::optional<std::uint32_t> capacity;
    if (const auto text = in.value("capacity")) {
        capacity = parseNumber(*text, 1, kMaxContainerIndex, "--capacity");
    }
    const auto sn = in.value("sn");
    if (sn && !isValidSerial(*sn)) {
        throw UsageError("not a valid serial: '" + *sn + "' (1-63 of A-Z a-z 0-9 . _ -)");
    }

    Store& store = in.store();
    for (int attempt = 0; attempt < kSerialAttempts; ++attempt) {
        Token token = newToken(sn ? *sn : generatedSerial(), pin, label);
        token.pin.isDefault = in.has("default-pin");
        if (capacity) {
            token.capacity = *capacity;
        }
        try {
            store.create(token, KeyPlace::present);
        } catch (const StoreError& e) {
            if (e.kind == StoreErrorKind::exists && !sn) {
                continue;  // a generated serial that is taken: draw another
            }
            throw;
        }
        printLine(token.serial);
        return 0;
    }
    throw Failure("no free serial found");
}

int runList(Invocation& in) {
    Store& store = in.store();
    std::vector<std::pair<std::string, KeyPlace>> keys;
    for (const KeyPlace place : {KeyPlace::present, KeyPlace::removed}) {
        for (std::string& serial : store.serials(place)) {
            keys.emplace_back(std::move(serial), place);
        }
    }
    std::sort(keys.begin(), keys.end());
    if (in.has("json")) {
        json::Ptr list = json::array();
        for (const auto& [serial, place] : keys) {
            const Token t = store.read(serial);
            json::Ptr o = json::object();
            json::addString(o.get(), "serial", serial);
            json::addBool(o.get(), "present", place == KeyPlace::present);
            json::addNumber(o.get(), "containers", static_cast<double>(t.containers.size()));
            json::addString(o.get(), "label", t.label);
            json::add(list.get(), nullptr, std::move(o));
        }
        const SecureString text = json::print(list.get(), true);
        printLine(std::string_view(text.data(), text.size()));
        return 0;
    }
    for (const auto& [serial, place] : keys) {
        const Token t = store.read(serial);
        printLine(serial + "\t" + placeName(place) + "\t" + std::to_string(t.containers.size()) +
                  "\t" + t.label);
    }
    return 0;
}

int runShow(Invocation& in) {
    const std::string serial = serialArgument(in);
    Store& store = in.store();
    const Token token = store.read(serial);
    const KeyPlace place = store.placeOf(serial).value_or(KeyPlace::removed);
    print(in.has("json") ? showJson(token, place) : showText(token, place));
    return 0;
}

int runPlug(Invocation& in) {
    in.store().plug(serialArgument(in));
    return 0;
}

int runUnplug(Invocation& in) {
    in.store().unplug(serialArgument(in));
    return 0;
}

int runDelete(Invocation& in) {
    in.store().erase(serialArgument(in));
    return 0;
}

int runAdminState(Invocation& in) {
    const std::string serial = chosenSerial(in);
    if (in.positional().empty()) {
        printLine(std::to_string(in.store().read(serial).adminState));
        return 0;
    }
    const std::uint32_t state = parseNumber(in.positional()[0], 1, 2, "the admin state");
    in.store().update(serial, false, [&](Token& t) { t.adminState = state; });
    return 0;
}

int runPin(Invocation& in) {
    const std::string serial = chosenSerial(in);
    if (in.has("default") && in.has("changed")) {
        throw UsageError("--default and --changed exclude each other");
    }
    const auto reset = in.value("reset");
    if (reset && !isValidPin(*reset)) {
        throw UsageError("a PIN has 1 to " + std::to_string(kPinMaxBytes) + " bytes");
    }
    std::optional<std::uint32_t> tries;
    if (const auto text = in.value("tries")) {
        tries = parseNumber(*text, 0, 255, "--tries");
    }
    Store& store = in.store();
    if (!reset && !tries && !in.has("default") && !in.has("changed")) {
        const Token t = store.read(serial);
        printLine("tries left: " + std::to_string(t.pin.triesLeft) + " of " +
                  std::to_string(t.pin.maxTries));
        printLine(std::string("default pin: ") + (t.pin.isDefault ? "yes" : "no"));
        return 0;
    }
    store.update(serial, false, [&](Token& t) {
        if (reset) {
            setPin(t, *reset, in.has("default"));
        }
        if (tries) {
            if (*tries > t.pin.maxTries) {
                throw UsageError("--tries must be at most " + std::to_string(t.pin.maxTries));
            }
            t.pin.triesLeft = *tries;
        }
        if (in.has("default") || in.has("changed")) {
            t.pin.isDefault = in.has("default");
        }
    });
    return 0;
}

int runLanguages(Invocation& in) {
    const std::string serial = chosenSerial(in);
    if (in.positional().empty()) {
        printLine(joinCodes(in.store().read(serial).languages));
        return 0;
    }
    const std::string& text = in.positional()[0];
    std::vector<std::uint8_t> codes;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        if (codes.size() == kMaxLanguages) {
            throw UsageError("a key offers at most " + std::to_string(kMaxLanguages) +
                             " languages");
        }
        codes.push_back(static_cast<std::uint8_t>(
            parseNumber(std::string_view(text).substr(at, end - at), 1, 255, "a language code")));
        if (end == text.size()) {
            break;
        }
        at = end + 1;
    }
    in.store().update(serial, false, [&](Token& t) { t.languages = codes; });
    return 0;
}

}  // namespace orva::softkey::tool
