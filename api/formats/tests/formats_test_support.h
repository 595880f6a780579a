#pragma once

// Helpers for the format tests: a temporary folder per test, files, hex, and
// the openssl command line, which checks our output independently.

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

#include "byte_buffer.h"
#include "orva/openssl_ptr.h"

namespace orva::api::test {

class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/orva_formats_XXXXXX";
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

    // A file name inside the folder, and the same quoted for the shell.
    std::string file(std::string_view name) const { return (path_ / name).string(); }
    std::string arg(std::string_view name) const { return "'" + file(name) + "'"; }

  private:
    std::filesystem::path path_;
};

inline std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::string textOf(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline void writeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline void writeFile(const std::string& path, std::string_view text) {
    writeFile(path, bytesOf(text));
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Run {
    int status;
    std::string output;  // stdout and stderr together
};

// Runs `openssl <args>` with its output in a log file of the folder.
inline Run openssl(const TempDir& dir, const std::string& args) {
    const std::string log = dir.file("openssl.log");
    const std::string command =
        std::string("'") + ORVA_FORMATS_TEST_OPENSSL + "' " + args + " >'" + log + "' 2>&1";
    const int raw = std::system(command.c_str());
    return Run{raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, textOf(readFile(log))};
}

// Hex digits, blanks between them allowed.
inline Bytes fromHex(std::string_view spaced) {
    std::string hex(spaced);
    std::erase(hex, ' ');
    if (hex.empty()) {
        return {};
    }
    long length = 0;
    const OpensslBytesPtr bytes(OPENSSL_hexstr2buf(hex.c_str(), &length));
    if (!bytes) {
        throw std::runtime_error("bad hex " + hex);
    }
    return Bytes(bytes.get(), bytes.get() + length);
}

inline std::string toHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += {kDigits[b >> 4], kDigits[b & 15]};
    }
    return out;
}

}  // namespace orva::api::test
