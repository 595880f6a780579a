#pragma once

// What the softkey commands share: the parsed command line, the store it names,
// the failures that end a command, and small readers of numbers, keys and files.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "secure_bytes.h"
#include "store.h"
#include "token.h"

namespace orva::softkey::tool {

// Ends the command: main prints "softkey: <message>" and exits with 1, as it
// does for every other exception (StoreError, TokenError, CryptoError).
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command line the command does not take: main exits with 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One command: its words after the command name, split by the option list of
// its table entry ("sn= pin= default-pin": '=' marks an option with a value).
class Invocation {
  public:
    Invocation(std::string command, std::map<std::string, std::string, std::less<>> options,
               std::vector<std::string> positional, std::optional<std::filesystem::path> storeDir);

    const std::string& command() const noexcept { return command_; }
    bool has(std::string_view option) const;
    std::optional<std::string> value(std::string_view option) const;
    // The option's value; a UsageError when it is missing.
    std::string required(std::string_view option) const;
    const std::vector<std::string>& positional() const noexcept { return positional_; }

    // --dir DIR, else $ORVA_SOFTKEY_DIR, else ~/.local/share/orva/softkey.
    Store& store();

  private:
    std::string command_;
    std::map<std::string, std::string, std::less<>> options_;
    std::vector<std::string> positional_;
    std::optional<std::filesystem::path> storeDir_;
    std::optional<Store> store_;
};

// Writes to stdout; main reports a failed write (a full disk, a closed pipe).
void print(std::string_view text);
void printLine(std::string_view text);

// A whole number in decimal (or 0x hex when hexAllowed) within [min, max].
std::uint32_t parseNumber(std::string_view text, std::uint32_t min, std::uint32_t max,
                          std::string_view what, bool hexAllowed = false);
// One of a list of words; names the allowed ones when it is none of them.
std::size_t parseChoice(std::string_view text, const std::vector<std::string_view>& choices,
                        std::string_view what);

// The key --sn names; without --sn the only key plugged in.
std::string chosenSerial(Invocation& in);
// A container by index (decimal) or by name.
std::uint32_t findContainerArg(const Token& token, std::string_view text);

// The algorithm id as the tool names it: sm2, rsa1024, rsa2048.
std::string algorithmName(std::uint32_t algId);

// A file of at most maxBytes.
Bytes readFileBytes(const std::filesystem::path& path, std::size_t maxBytes);
// Writes a file whole, replacing it, with the given permissions.
void writeFileBytes(const std::filesystem::path& path, std::string_view content,
                    std::filesystem::perms mode);

// A fresh container name: an RFC 4122 version 4 UUID in lower case.
std::string newUuidText();

// The commands, one group per file.
int runCreate(Invocation& in);
int runList(Invocation& in);
int runShow(Invocation& in);
int runPlug(Invocation& in);
int runUnplug(Invocation& in);
int runDelete(Invocation& in);
int runAdminState(Invocation& in);
int runPin(Invocation& in);
int runLanguages(Invocation& in);
int runProvision(Invocation& in);
int runCa(Invocation& in);
int runIssue(Invocation& in);
int runEnvelope(Invocation& in);
int runUser(Invocation& in);
int runDisplay(Invocation& in);
int runFault(Invocation& in);
int runTrace(Invocation& in);
int runExportKey(Invocation& in);
int runExportCert(Invocation& in);
int runRegistered(Invocation& in);
int runCspList(Invocation& in);
int runCspImport(Invocation& in);
int runCspExportKey(Invocation& in);

}  // namespace orva::softkey::tool
