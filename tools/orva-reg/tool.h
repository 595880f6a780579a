#pragma once

// What the orva-reg commands share: their parsed arguments, key names, open
// keys, value text, and the failure that ends a command.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "orva/bytes.h"
#include "win32/registry.h"

namespace orva::reg_tool {

using orva::Bytes;

// Ends the command: main prints the message and exits with 1.
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The switches a command accepts.
enum Switch : unsigned {
    kValue = 1u << 0,         // /v NAME
    kDefaultValue = 1u << 1,  // /ve
    kAllValues = 1u << 2,     // /va
    kRecurse = 1u << 3,       // /s
    kType = 1u << 4,          // /t TYPE
    kData = 1u << 5,          // /d DATA
    kForce = 1u << 6,         // /f
    kOverwrite = 1u << 7,     // /y
    kView = 1u << 8,          // /reg:32, /reg:64
};

struct Arguments {
    std::vector<std::string> positional;
    std::optional<std::string> valueName;
    bool defaultValue = false;
    bool allValues = false;
    bool recurse = false;
    std::optional<std::string> type;
    std::optional<std::string> data;
    bool force = false;
    bool overwrite = false;
    REGSAM view = 0;  // KEY_WOW64_32KEY, KEY_WOW64_64KEY or none
};

// Switches start with '/' or '-' and are matched case-insensitively; "--"
// makes every later word positional.
Arguments parseArguments(const std::vector<std::string>& words, unsigned allowed);
// Exactly count positional words, named in the message when missing.
void expectPositional(const Arguments& args, std::size_t count, const char* what);

// A key as written on the command line: HKLM\SOFTWARE\X.
struct KeyName {
    HKEY root = nullptr;
    std::string subkey;   // without the root, no trailing backslash
    std::string display;  // with the root's long name
};
KeyName parseKeyName(const std::string& text);

// An open key, closed when it goes.
class KeyHandle {
  public:
    KeyHandle() noexcept = default;
    explicit KeyHandle(HKEY key) noexcept : key_(key) {}
    ~KeyHandle();
    KeyHandle(KeyHandle&& other) noexcept;
    KeyHandle& operator=(KeyHandle&& other) noexcept;
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY get() const noexcept { return key_; }

  private:
    HKEY key_ = nullptr;
};

// Throws a Failure for anything but ERROR_SUCCESS. A corrupt registry file is
// named with the line and reason.
void check(LSTATUS status);
KeyHandle openKey(HKEY root, const std::string& subkey, REGSAM access);

struct ValueItem {
    std::string name;
    DWORD type = REG_NONE;
    Bytes data;
};
std::vector<ValueItem> readValues(HKEY key);
std::vector<std::string> readSubkeys(HKEY key);

std::string typeName(DWORD type);
// REG_SZ and the others by name; a Failure for types add cannot write.
DWORD parseTypeName(const std::string& name);
// Data as query shows it.
std::string formatData(DWORD type, const Bytes& data);
// Data as add takes it: text, a DWORD in decimal or 0x hex, hex digits.
Bytes parseData(DWORD type, const std::optional<std::string>& text);

int runQuery(const Arguments& args);
int runAdd(const Arguments& args);
int runDelete(const Arguments& args);
int runImport(const Arguments& args);
int runExport(const Arguments& args);

inline constexpr const char* kDone = "The operation completed successfully.";

}  // namespace orva::reg_tool
