#include <cstdio>

#include "tool.h"

namespace orva::reg_tool {

// /f only skips reg.exe's confirmation; this tool never asks, so it changes nothing.
int runAdd(const Arguments& args) {
    expectPositional(args, 1, "KEY");
    const KeyName key = parseKeyName(args.positional[0]);
    const bool setsValue = args.valueName.has_value() || args.defaultValue;
    if (!setsValue && (args.type || args.data)) {
        throw Failure("/t and /d need /v NAME or /ve");
    }
    const DWORD type = args.type ? parseTypeName(*args.type) : REG_SZ;
    const Bytes data = parseData(type, args.data);  // checked before the registry is touched

    HKEY created = nullptr;
    DWORD disposition = 0;
    check(RegCreateKeyExA(key.root, key.subkey.empty() ? nullptr : key.subkey.c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | args.view, nullptr,
                          &created, &disposition));
    const KeyHandle handle(created);
    if (setsValue) {
        const std::string name = args.valueName.value_or("");
        check(RegSetValueExA(handle.get(), name.c_str(), 0, type, data.data(),
                             static_cast<DWORD>(data.size())));
    }
    std::puts(kDone);
    return 0;
}

}  // namespace orva::reg_tool
