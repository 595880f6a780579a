#include <iostream>
#include <optional>
#include <utility>

#include "tool.h"
#include "win32/errors.h"

namespace orva::reg_tool {

namespace {

void printValue(const ValueItem& value) {
    std::cout << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
              << typeName(value.type) << "    " << formatData(value.type, value.data) << '\n';
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
        if (upper(a[i]) != upper(b[i])) {
            return false;
        }
    }
    return true;
}

// Found by enumeration so that the name shows as stored, not as typed.
std::optional<ValueItem> findValue(HKEY key, const std::string& name) {
    for (ValueItem& value : readValues(key)) {
        if (sameName(value.name, name)) {
            return std::move(value);
        }
    }
    return std::nullopt;
}

struct PendingKey {
    KeyHandle handle;
    std::string display;
};

}  // namespace

int runQuery(const Arguments& args) {
    expectPositional(args, 1, "KEY");
    const KeyName key = parseKeyName(args.positional[0]);
    const bool oneValue = args.valueName.has_value() || args.defaultValue;
    const std::string name = args.valueName.value_or("");

    // Depth first, parents before children. Only the top key is opened in the
    // requested view; subkeys are opened from their parent, so the walk stays
    // in the key that was found.
    std::vector<PendingKey> pending;
    pending.push_back({openKey(key.root, key.subkey, KEY_READ | args.view), key.display});
    std::size_t matches = 0;
    while (!pending.empty()) {
        PendingKey current = std::move(pending.back());
        pending.pop_back();
        if (oneValue) {
            if (std::optional<ValueItem> value = findValue(current.handle.get(), name)) {
                std::cout << '\n' << current.display << '\n';
                printValue(*value);
                ++matches;
            }
        } else {
            std::cout << '\n' << current.display << '\n';
            for (const ValueItem& value : readValues(current.handle.get())) {
                printValue(value);
            }
        }
        if (!args.recurse) {
            if (!oneValue) {
                const std::vector<std::string> subkeys = readSubkeys(current.handle.get());
                if (!subkeys.empty()) {
                    std::cout << '\n';
                }
                for (const std::string& subkey : subkeys) {
                    std::cout << current.display << '\\' << subkey << '\n';
                }
            }
            continue;
        }
        const std::vector<std::string> subkeys = readSubkeys(current.handle.get());
        for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) {
            HKEY child = nullptr;
            const LSTATUS status =
                RegOpenKeyExA(current.handle.get(), it->c_str(), 0, KEY_READ, &child);
            if (status == ERROR_FILE_NOT_FOUND) {
                continue;  // deleted since it was listed
            }
            check(status);
            pending.push_back({KeyHandle(child), current.display + '\\' + *it});
        }
    }
    if (oneValue) {
        if (matches == 0) {
            throw Failure("the system was unable to find the specified registry key or value");
        }
        if (args.recurse) {
            std::cout << "\nEnd of search: " << matches << " match(es) found.\n";
        }
    }
    std::cout << '\n';
    std::cout.flush();
    return std::cout ? 0 : 1;
}

}  // namespace orva::reg_tool
