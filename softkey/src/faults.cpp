#include "faults.h"

#include <cstdlib>

#include "folder_listing.h"
#include "json.h"

namespace orva::softkey {

namespace {

[[noreturn]] void malformed(const std::string& what) {
    throw StoreError(StoreErrorKind::malformed, std::string(kFaultsFile) + ": " + what);
}

std::optional<std::uint32_t> statusOf(const cJSON* item) {
    if (const auto number = json::uint(item)) {
        return number;
    }
    const auto text = json::string(item);
    if (!text || text->size() < 3 || text->size() > 10 || (*text)[0] != '0' ||
        ((*text)[1] != 'x' && (*text)[1] != 'X')) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text->substr(2)) {
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return value;
}

bool pullDue(const Faults& faults, std::string_view function) {
    return faults.pulled && (*faults.pulled == function ||
                             (*faults.pulled == kPulledBefore && function == "NDGetSlotList"));
}

}  // namespace

Faults faultsFromJson(std::string_view text) {
    const json::Ptr doc = json::parse(text);
    if (!cJSON_IsObject(doc.get())) {
        malformed("not a JSON object");
    }
    const cJSON* r = doc.get();
    Faults faults;
    for (auto [field, target] :
         {std::pair{"pulled", &faults.pulled}, std::pair{"pulledSerial", &faults.pulledSerial}}) {
        if (const cJSON* item = json::member(r, field); item != nullptr) {
            const auto value = json::string(item);
            if (!value || value->empty()) {
                malformed(std::string(field) + " is not a text");
            }
            target->emplace(*value);
        }
    }
    for (auto [field, target] : {std::pair{"refuseExternAuth", &faults.refuseExternAuth},
                                 std::pair{"failWrites", &faults.failWrites}}) {
        if (json::member(r, field) != nullptr) {
            const auto value = json::boolean(r, field);
            if (!value) {
                malformed(std::string(field) + " is not true or false");
            }
            *target = *value;
        }
    }
    if (const cJSON* fail = json::member(r, "fail"); fail != nullptr) {
        if (!cJSON_IsObject(fail)) {
            malformed("fail is not an object");
        }
        const cJSON* item = nullptr;
        cJSON_ArrayForEach(item, fail) {
            FailRule rule;
            if (cJSON_IsObject(item)) {
                const auto status = statusOf(json::member(item, "status"));
                if (!status) {
                    malformed(std::string("fail.") + item->string + ".status");
                }
                rule.status = *status;
                if (json::member(item, "count") != nullptr) {
                    rule.count = json::uint(item, "count");
                    if (!rule.count) {
                        malformed(std::string("fail.") + item->string + ".count");
                    }
                }
                if (json::member(item, "after") != nullptr) {
                    const auto after = json::uint(item, "after");
                    if (!after) {
                        malformed(std::string("fail.") + item->string + ".after");
                    }
                    rule.after = *after;
                }
            } else {
                const auto status = statusOf(item);
                if (!status) {
                    malformed(std::string("fail.") + item->string);
                }
                rule.status = *status;
            }
            faults.fail.insert_or_assign(item->string, rule);
        }
    }
    return faults;
}

std::string faultsToJson(const Faults& faults) {
    json::Ptr doc = json::object();
    cJSON* r = doc.get();
    if (faults.pulled) {
        json::addString(r, "pulled", *faults.pulled);
    }
    if (faults.pulledSerial) {
        json::addString(r, "pulledSerial", *faults.pulledSerial);
    }
    if (faults.refuseExternAuth) {
        json::addBool(r, "refuseExternAuth", true);
    }
    if (faults.failWrites) {
        json::addBool(r, "failWrites", true);
    }
    if (!faults.fail.empty()) {
        cJSON* fail = json::add(r, "fail", json::object());
        for (const auto& [function, rule] : faults.fail) {
            json::Ptr o = json::object();
            json::addNumber(o.get(), "status", rule.status);
            if (rule.count) {
                json::addNumber(o.get(), "count", *rule.count);
            }
            if (rule.after != 0) {
                json::addNumber(o.get(), "after", rule.after);
            }
            json::add(fail, function.c_str(), std::move(o));
        }
    }
    const SecureString text = json::print(r, true);
    return std::string(text.data(), text.size()) + "\n";
}

Faults readFaults(const Store& store) {
    if (!store.has(kFaultsFile)) {
        return Faults{};
    }
    const auto text = store.readText(kFaultsFile);
    return text ? faultsFromJson(*text) : Faults{};
}

CallSwitches readCallSwitches(const Store& store) {
    const auto root = listFolder(store.root());
    CallSwitches switches;
    switches.tracing = hasEntry(*root, kTraceSwitch);
    if (hasEntry(*root, kFaultsFile)) {
        const auto text = store.readText(kFaultsFile);
        switches.faults = text ? faultsFromJson(*text) : Faults{};
    }
    return switches;
}

void writeFaults(Store& store, const Faults& faults) {
    store.modifyText(kFaultsFile, false, [&](std::optional<std::string>) {
        return std::optional<std::string>(faultsToJson(faults));
    });
}

std::optional<std::uint32_t> takeFailure(Store& store, std::string_view function,
                                         const Faults* seen) {
    const Faults read = seen != nullptr ? Faults{} : readFaults(store);
    const Faults& current = seen != nullptr ? *seen : read;
    const auto rule = current.fail.find(function);
    if (rule == current.fail.end()) {
        return std::nullopt;
    }
    if (!rule->second.count && rule->second.after == 0) {
        return rule->second.status;
    }
    // A counted or delayed rule is spent under the lock, so that two processes
    // share its count.
    std::optional<std::uint32_t> fired;
    store.modifyText(kFaultsFile, false, [&](std::optional<std::string> current) {
        if (!current) {
            return current;
        }
        Faults faults = faultsFromJson(*current);
        const auto it = faults.fail.find(function);
        if (it == faults.fail.end()) {
            return current;
        }
        if (it->second.after != 0) {
            --it->second.after;
            return std::optional<std::string>(faultsToJson(faults));
        }
        fired = it->second.status;
        if (it->second.count) {
            if (*it->second.count <= 1) {
                if (*it->second.count == 0) {
                    fired.reset();
                }
                faults.fail.erase(it);
            } else {
                --*it->second.count;
            }
        }
        return std::optional<std::string>(faultsToJson(faults));
    });
    return fired;
}

std::optional<Faults> takePullOut(Store& store, std::string_view function, const Faults* seen) {
    if (!pullDue(seen != nullptr ? *seen : readFaults(store), function)) {
        return std::nullopt;
    }
    std::optional<Faults> fired;
    store.modifyText(kFaultsFile, false, [&](std::optional<std::string> current) {
        if (!current) {
            return current;
        }
        Faults faults = faultsFromJson(*current);
        if (!pullDue(faults, function)) {
            return current;
        }
        fired = faults;
        faults.pulled.reset();
        faults.pulledSerial.reset();
        return std::optional<std::string>(faultsToJson(faults));
    });
    return fired;
}

void pullOut(Store& store, const Faults& fired, const std::vector<std::string>& serials) {
    const std::vector<std::string> targets =
        fired.pulledSerial ? std::vector<std::string>{*fired.pulledSerial} : serials;
    for (const std::string& serial : targets) {
        if (store.placeOf(serial) == KeyPlace::present) {
            store.unplug(serial);
        }
    }
}

}  // namespace orva::softkey
