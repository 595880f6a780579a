#pragma once

// Helpers for the cryptography tests: a temporary folder per test, files, and the
// openssl command line, which checks our output independently.

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "secure_bytes.h"

namespace orva::softkey::test {

class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/softkey_crypto_XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // A file name inside the folder, quoted for the shell.
    std::string file(std::string_view name) const { return (path_ / name).string(); }
    std::string arg(std::string_view name) const { return "'" + file(name) + "'"; }

  private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline void writeFile(const std::string& path, std::string_view text) {
    writeFile(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

struct Run {
    int status;
    std::string output;  // stdout and stderr, for failure messages
};

// Runs `openssl <args>`; its output goes to a log file in the folder.
inline Run openssl(const TempDir& dir, const std::string& args) {
    const std::string log = dir.file("openssl.log");
    const std::string command =
        std::string("'") + SOFTKEY_TEST_OPENSSL + "' " + args + " >'" + log + "' 2>&1";
    const int raw = std::system(command.c_str());
    const int status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return Run{status, readText(log)};
}

inline std::string pemText(const SecureString& pem) {
    return std::string(pem.begin(), pem.end());
}

inline SecureString secure(std::string_view text) {
    return SecureString(text.begin(), text.end());
}

inline Bytes fromHex(std::string_view hex) {
    Bytes out;
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        throw std::runtime_error("bad hex");
    };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    }
    return out;
}

inline std::string toHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// r || s as the DER signature openssl verifies: SEQUENCE of two minimal INTEGERs.
inline Bytes derSignature(std::span<const std::uint8_t> rs) {
    auto integer = [](std::span<const std::uint8_t> value) {
        std::size_t skip = 0;
        while (skip + 1 < value.size() && value[skip] == 0) {
            ++skip;
        }
        Bytes body(value.begin() + static_cast<std::ptrdiff_t>(skip), value.end());
        if (body[0] & 0x80) {
            body.insert(body.begin(), 0x00);
        }
        Bytes out = {0x02, static_cast<std::uint8_t>(body.size())};
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    const std::size_t half = rs.size() / 2;
    Bytes content = integer(rs.first(half));
    const Bytes s = integer(rs.subspan(half));
    content.insert(content.end(), s.begin(), s.end());
    Bytes out = {0x30, static_cast<std::uint8_t>(content.size())};
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

}  // namespace orva::softkey::test
