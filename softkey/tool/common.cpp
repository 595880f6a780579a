#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "key_crypto.h"
#include "orva/file_descriptor.h"
#include "orva/file_replacement.h"
#include "orva/hex.h"
#include "orva/read_all.h"
#include "tool.h"

namespace orva::softkey::tool {

namespace fs = std::filesystem;

Invocation::Invocation(std::string command, std::map<std::string, std::string, std::less<>> options,
                       std::vector<std::string> positional,
                       std::optional<std::filesystem::path> storeDir)
    : command_(std::move(command)),
      options_(std::move(options)),
      positional_(std::move(positional)),
      storeDir_(std::move(storeDir)) {}

bool Invocation::has(std::string_view option) const {
    return options_.find(option) != options_.end();
}

std::optional<std::string> Invocation::value(std::string_view option) const {
    const auto it = options_.find(option);
    if (it == options_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::string Invocation::required(std::string_view option) const {
    const auto it = options_.find(option);
    if (it == options_.end()) {
        throw UsageError(command_ + " needs --" + std::string(option));
    }
    return it->second;
}

Store& Invocation::store() {
    if (!store_) {
        store_.emplace(storeDir_ ? Store(*storeDir_) : Store::fromEnvironment());
    }
    return *store_;
}

void print(std::string_view text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        throw Failure("cannot write the output");
    }
}

void printLine(std::string_view text) {
    print(text);
    print("\n");
}

std::uint32_t parseNumber(std::string_view text, std::uint32_t min, std::uint32_t max,
                          std::string_view what, bool hexAllowed) {
    const bool hex =
        hexAllowed && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string_view digits = hex ? text.substr(2) : text;
    const std::uint64_t base = hex ? 16 : 10;
    std::uint64_t value = 0;
    bool ok = !digits.empty() && digits.size() <= (hex ? 8 : 10);
    for (const char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        }
        if (d < 0) {
            ok = false;
            break;
        }
        value = value * base + static_cast<std::uint64_t>(d);
    }
    if (!ok || value < min || value > max) {
        throw UsageError(std::string(what) + " must be a number from " + std::to_string(min) +
                         " to " + std::to_string(max) + ", not '" + std::string(text) + "'");
    }
    return static_cast<std::uint32_t>(value);
}

std::size_t parseChoice(std::string_view text, const std::vector<std::string_view>& choices,
                        std::string_view what) {
    std::string allowed;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (choices[i] == text) {
            return i;
        }
        allowed += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ");
        allowed += choices[i];
    }
    throw UsageError(std::string(what) + " must be " + allowed + ", not '" + std::string(text) +
                     "'");
}

std::string chosenSerial(Invocation& in) {
    if (const auto sn = in.value("sn")) {
        if (!isValidSerial(*sn)) {
            throw UsageError("not a valid serial: '" + *sn + "'");
        }
        return *sn;
    }
    const std::vector<std::string> present = in.store().serials(KeyPlace::present);
    if (present.size() != 1) {
        throw UsageError(std::to_string(present.size()) +
                         " keys are plugged in; name one with --sn");
    }
    return present.front();
}

std::uint32_t findContainerArg(const Token& token, std::string_view text) {
    const bool digits =
        !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == text.npos;
    if (digits) {
        const auto index = static_cast<std::uint32_t>(std::stoul(std::string(text)));
        if (findContainer(token, index) != nullptr) {
            return index;
        }
    }
    if (const auto index = findContainerByName(token, text)) {
        return *index;
    }
    throw Failure("key " + token.serial + " has no container '" + std::string(text) + "'");
}

std::string algorithmName(std::uint32_t algId) {
    switch (algId) {
        case 0:
            return "none";
        case kAlgRsa:
        case kAlgRsa1024:
            return "rsa1024";
        case kAlgRsa2048:
            return "rsa2048";
        case kAlgSm2:
            return "sm2";
        default:
            return "alg" + std::to_string(algId);
    }
}

Bytes readFileBytes(const fs::path& path, std::size_t maxBytes) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        throw Failure("cannot open " + path.string() + ": " + std::strerror(errno));
    }
    ReadResult bytes = readAll<Bytes>(fd.get(), maxBytes);
    if (bytes.error == EFBIG) {
        throw Failure(path.string() + " is larger than " + std::to_string(maxBytes) + " bytes");
    }
    if (!bytes) {
        throw Failure("cannot read " + path.string() + ": " + std::strerror(bytes.error));
    }
    return std::move(bytes.data);
}

void writeFileBytes(const fs::path& path, std::string_view content, fs::perms mode) {
    // Made with no permissions beyond mode, so a private key is never readable
    // by others, not even for a moment.
    FileDescriptor fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode)));
    if (!fd) {
        throw Failure("cannot write " + path.string() + ": " + std::strerror(errno));
    }
    if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0 || !writeAll(fd.get(), content) ||
        ::fsync(fd.get()) != 0 || !fd.close()) {
        throw Failure("cannot write " + path.string() + ": " + std::strerror(errno));
    }
}

std::string newUuidText() {
    std::uint8_t b[16];
    if (RAND_bytes(b, sizeof b) != 1) {
        throw Failure("no random bytes");
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::string text;
    for (std::size_t i = 0; i < sizeof b; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += hexDigit(b[i] >> 4);
        text += hexDigit(b[i]);
    }
    return text;
}

}  // namespace orva::softkey::tool
