#include <cstring>
#include <iterator>
#include <string_view>

#include "tool.h"

namespace orva::reg_tool {

namespace {

struct SwitchRule {
    const char* name;
    Switch id;
    bool takesWord;
};

constexpr SwitchRule kSwitches[] = {
    {"v", kValue, true},      {"ve", kDefaultValue, false}, {"va", kAllValues, false},
    {"s", kRecurse, false},   {"t", kType, true},           {"d", kData, true},
    {"f", kForce, false},     {"y", kOverwrite, false},     {"reg:32", kView, false},
    {"reg:64", kView, false},
};

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

const SwitchRule* findSwitch(const std::string& word) {
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) {
        return nullptr;
    }
    for (const SwitchRule& rule : kSwitches) {
        if (sameText(std::string_view(word).substr(1), rule.name)) {
            return &rule;
        }
    }
    return nullptr;
}

struct Root {
    const char* shortName;
    const char* longName;
    HKEY key;
};

const Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", HKEY_USERS},
};

}  // namespace

Arguments parseArguments(const std::vector<std::string>& words, unsigned allowed) {
    Arguments args;
    unsigned seen = 0;
    bool onlyPositional = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (onlyPositional) {
            args.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            onlyPositional = true;
            continue;
        }
        const SwitchRule* rule = findSwitch(word);
        if (rule == nullptr) {
            if (word.size() > 1 && word[0] == '-') {
                throw Failure("invalid switch '" + word + "'");
            }
            args.positional.push_back(word);
            continue;
        }
        if ((allowed & rule->id) == 0) {
            throw Failure("this command does not take " + word);
        }
        if ((seen & rule->id) != 0) {
            throw Failure("switch " + word + " given twice");
        }
        seen |= rule->id;
        std::string operand;
        if (rule->takesWord) {
            if (i + 1 >= words.size()) {
                throw Failure("switch " + word + " needs a value");
            }
            operand = words[++i];
        }
        switch (rule->id) {
            case kValue:
                args.valueName = operand;
                break;
            case kDefaultValue:
                args.defaultValue = true;
                break;
            case kAllValues:
                args.allValues = true;
                break;
            case kRecurse:
                args.recurse = true;
                break;
            case kType:
                args.type = operand;
                break;
            case kData:
                args.data = operand;
                break;
            case kForce:
                args.force = true;
                break;
            case kOverwrite:
                args.overwrite = true;
                break;
            case kView:
                args.view =
                    std::strcmp(rule->name, "reg:32") == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
                break;
        }
    }
    const int valueSwitches =
        (args.valueName ? 1 : 0) + (args.defaultValue ? 1 : 0) + (args.allValues ? 1 : 0);
    if (valueSwitches > 1) {
        throw Failure("/v, /ve and /va exclude each other");
    }
    return args;
}

void expectPositional(const Arguments& args, std::size_t count, const char* what) {
    if (args.positional.size() < count) {
        throw Failure(std::string("missing ") + what);
    }
    if (args.positional.size() > count) {
        throw Failure("unexpected argument '" + args.positional[count] + "'");
    }
}

KeyName parseKeyName(const std::string& text) {
    const std::size_t slash = text.find('\\');
    const std::string_view rootName = std::string_view(text).substr(0, slash);
    for (const Root& root : kRoots) {
        if (sameText(rootName, root.shortName) || sameText(rootName, root.longName)) {
            KeyName key;
            key.root = root.key;
            if (slash != std::string::npos) {
                key.subkey = text.substr(slash + 1);
            }
            while (!key.subkey.empty() && key.subkey.back() == '\\') {
                key.subkey.pop_back();
            }
            key.display = root.longName;
            if (!key.subkey.empty()) {
                key.display += '\\' + key.subkey;
            }
            return key;
        }
    }
    throw Failure("invalid key name '" + text + "': it must start with HKLM, HKCU, HKCR or HKU");
}

}  // namespace orva::reg_tool
