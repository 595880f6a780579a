#include <cstdio>

#include "tool.h"
#include "win32/errors.h"

namespace orva::reg_tool {

int runDelete(const Arguments& args) {
    expectPositional(args, 1, "KEY");
    const KeyName key = parseKeyName(args.positional[0]);
    if (args.valueName || args.defaultValue) {
        const KeyHandle handle = openKey(key.root, key.subkey, KEY_READ | KEY_WRITE | args.view);
        check(RegDeleteValueA(handle.get(), args.valueName.value_or("").c_str()));
    } else if (args.allValues) {
        const KeyHandle handle = openKey(key.root, key.subkey, KEY_READ | KEY_WRITE | args.view);
        for (const ValueItem& value : readValues(handle.get())) {
            const LSTATUS status = RegDeleteValueA(handle.get(), value.name.c_str());
            if (status != ERROR_FILE_NOT_FOUND) {  // gone already is as good
                check(status);
            }
        }
    } else {
        if (key.subkey.empty()) {
            throw Failure("a root key cannot be deleted");
        }
        // Opened in its view, emptied, then deleted through its own handle:
        // RegDeleteKeyA has no view of its own to find it by.
        const KeyHandle handle = openKey(key.root, key.subkey, KEY_ALL_ACCESS | args.view);
        check(RegDeleteTreeA(handle.get(), nullptr));
        check(RegDeleteKeyA(handle.get(), ""));
    }
    std::puts(kDone);
    return 0;
}

}  // namespace orva::reg_tool
