// orva-reg: reads and edits the registry file the way reg.exe edits the
// Windows registry.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "tool.h"

namespace {

using namespace orva::reg_tool;

struct Command {
    const char* name;
    unsigned switches;
    int (*run)(const Arguments&);
};

const Command kCommands[] = {
    {"query", kValue | kDefaultValue | kRecurse | kView, runQuery},
    {"add", kValue | kDefaultValue | kType | kData | kForce | kView, runAdd},
    {"delete", kValue | kDefaultValue | kAllValues | kForce | kView, runDelete},
    {"import", kView, runImport},
    {"export", kOverwrite | kView, runExport},
};

constexpr const char* kHelp = R"(Usage: orva-reg [--registry FILE] COMMAND ...

Reads and edits the registry file: FILE, else $ORVA_REGISTRY, else
/etc/orva/registry.reg.

Commands:
  query KEY [/v NAME | /ve] [/s] [/reg:32|/reg:64]
      Shows the key's values and subkeys; /v one value, /ve the default
      value, /s the keys below it too.
  add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f] [/reg:32|/reg:64]
      Creates the key (and the keys above it) and sets a value. TYPE is
      REG_SZ (the default), REG_EXPAND_SZ, REG_DWORD or REG_BINARY. DATA is
      text, a REG_DWORD in decimal or 0x hex, or REG_BINARY hex digits.
  delete KEY [/v NAME | /ve | /va] [/f] [/reg:32|/reg:64]
      Deletes the key with everything below it, or one value (/v), the
      default value (/ve), or all the key's values (/va).
  import FILE [/reg:32|/reg:64]
      Applies a .reg file in one change; [-KEY] deletes a key and
      "name"=- a value.
  export KEY FILE [/y] [/reg:32|/reg:64]
      Writes the key and everything below it to FILE as REGEDIT4 text; /y
      overwrites an existing FILE.

KEY starts with HKLM, HKCU, HKCR, HKU or their long names, e.g.
HKLM\SOFTWARE\Vendor. /reg:32 selects the 32-bit view (SOFTWARE\Wow6432Node),
/reg:64 the native one (the default). /f is accepted for reg.exe's sake:
orva-reg never asks for confirmation.

Exit status: 0 on success, 1 on failure with the reason on stderr.
)";

bool isHelp(std::string_view word) {
    return word == "--help" || word == "-h" || word == "/?" || word == "-?";
}

bool sameCommand(std::string_view word, std::string_view name) {
    if (word.size() != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c =
            (word[i] >= 'A' && word[i] <= 'Z') ? static_cast<char>(word[i] + 32) : word[i];
        if (c != name[i]) {
            return false;
        }
    }
    return true;
}

int run(const std::vector<std::string>& words) {
    std::size_t at = 0;
    for (; at < words.size(); ++at) {
        const std::string& word = words[at];
        if (isHelp(word)) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        std::string file;
        if (word == "--registry") {
            if (at + 1 >= words.size()) {
                throw Failure("--registry needs a FILE");
            }
            file = words[++at];
        } else if (word.starts_with("--registry=")) {
            file = word.substr(11);
        } else if (word.starts_with("--")) {
            throw Failure("unknown option '" + word + "'");
        } else {
            break;
        }
        if (file.empty()) {
            throw Failure("--registry needs a FILE");
        }
        // The Reg* functions read the variable at every call.
        if (::setenv("ORVA_REGISTRY", file.c_str(), 1) != 0) {
            throw Failure("cannot set ORVA_REGISTRY");
        }
    }
    if (at == words.size()) {
        throw Failure("missing COMMAND; see orva-reg --help");
    }
    for (const Command& command : kCommands) {
        if (sameCommand(words[at], command.name)) {
            const std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                                words.end());
            for (const std::string& word : rest) {
                if (isHelp(word)) {
                    std::fputs(kHelp, stdout);
                    return 0;
                }
            }
            return command.run(parseArguments(rest, command.switches));
        }
    }
    throw Failure("unknown command '" + words[at] + "'; see orva-reg --help");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const Failure& failure) {
        std::fprintf(stderr, "orva-reg: %s\n", failure.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orva-reg: %s\n", error.what());
    }
    return 1;
}
