#pragma once

// What the test suites share: a temporary folder per test, whole-file reads and
// writes, running commands and programs with their output captured, hex, and
// the DER form of a raw r||s signature that the openssl command line verifies.
// Every helper throws std::runtime_error on failure, so a broken fixture fails
// the test instead of passing it on empty data.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "orva/bytes.h"
#include "orva/hex.h"

extern char** environ;

namespace orva::testing {

using orva::Bytes;

// Single quotes for the shell, embedded quotes included.
inline std::string shellQuote(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
  public:
    explicit TempDir(std::string_view prefix = "orva_test") {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" +
                              std::string(prefix) + "_XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed for " + pattern);
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    // A file name inside the folder, and the same quoted for the shell.
    std::string file(std::string_view name) const { return (path_ / name).string(); }
    std::string arg(std::string_view name) const { return shellQuote(file(name)); }

  private:
    std::filesystem::path path_;
};

inline std::span<const std::uint8_t> bytesOf(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

inline void writeFile(const std::filesystem::path& path, std::string_view text) {
    writeFile(path, bytesOf(text));
}

inline Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return bytes;
}

inline std::string readText(const std::filesystem::path& path) {
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// An exit status (-1 when the command did not exit normally) and what it wrote.
struct CommandResult {
    int status = -1;
    std::string output;  // stdout and stderr together, in the order written
};

// Runs a shell command, capturing stdout and stderr. The command is grouped so
// that stderr is caught for every part of a list or pipeline, not the last one.
inline CommandResult runCommand(const std::string& command) {
    struct PipeClose {
        void operator()(FILE* pipe) const noexcept { pclose(pipe); }
    };
    std::unique_ptr<FILE, PipeClose> pipe(popen(("{ " + command + "\n} 2>&1").c_str(), "r"));
    if (!pipe) {
        throw std::runtime_error("cannot run " + command);
    }
    CommandResult result;
    std::array<char, 4096> chunk{};
    while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe.get())) {
        result.output.append(chunk.data(), n);
    }
    const int raw = pclose(pipe.release());
    result.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

// An exit status (-1 when the program did not exit normally) and its two streams.
struct ProgramResult {
    int exit = -1;
    std::string out;
    std::string err;
};

// Runs a program directly (no shell) in the current environment, with stdout
// and stderr kept apart.
inline ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args) {
    const TempDir scratch("orva_run");
    const std::string outPath = scratch.file("stdout");
    const std::string errPath = scratch.file("stderr");

    struct Actions {
        posix_spawn_file_actions_t value;
        Actions() { posix_spawn_file_actions_init(&value); }
        ~Actions() { posix_spawn_file_actions_destroy(&value); }
        Actions(const Actions&) = delete;
        Actions& operator=(const Actions&) = delete;
    } actions;
    posix_spawn_file_actions_addopen(&actions.value, 1, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions.value, 2, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions.value, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot run " + program);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) {
            throw std::runtime_error("waitpid failed for " + program);
        }
    }
    ProgramResult result;
    result.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readText(outPath);
    result.err = readText(errPath);
    return result;
}

// Runs work in a forked child that SIGALRM ends after guardSeconds, so that a
// call which would hang fails the test instead of hanging the suite: the code
// work returned, or -1 when the child did not exit by itself (the guard, a
// crash, an exception).
inline int exitOfGuardedChild(const std::function<int()>& work, unsigned guardSeconds = 30) {
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        signal(SIGALRM, SIG_DFL);
        alarm(guardSeconds);
        int code = 0;
        try {
            code = work();
        } catch (...) {
            abort();
        }
        _exit(code);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR) {
            throw std::runtime_error("waitpid failed");
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using orva::toHex;

// Hex digits in either case, blanks between them allowed; anything else, or an
// odd count of digits, is a fault in the test.
inline Bytes fromHex(std::string_view hex) {
    auto nibble = [&](char c) {
        const int value = hexValue(c);
        if (value < 0) {
            throw std::runtime_error("bad hex " + std::string(hex));
        }
        return value;
    };
    Bytes out;
    int high = -1;
    for (const char c : hex) {
        if (c == ' ') {
            continue;
        }
        const int digit = nibble(c);
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        throw std::runtime_error("odd hex " + std::string(hex));
    }
    return out;
}

namespace detail {

inline void appendDerLength(Bytes& out, std::size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
        return;
    }
    Bytes digits;
    for (std::size_t rest = length; rest != 0; rest >>= 8) {
        digits.insert(digits.begin(), static_cast<std::uint8_t>(rest & 0xFF));
    }
    out.push_back(static_cast<std::uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

// An unsigned big-endian value as a minimal DER INTEGER.
inline void appendDerInteger(Bytes& out, std::span<const std::uint8_t> value) {
    std::size_t skip = 0;
    while (skip + 1 < value.size() && value[skip] == 0) {
        ++skip;
    }
    const auto body = value.subspan(skip);
    const bool pad = (body[0] & 0x80) != 0;
    out.push_back(0x02);
    appendDerLength(out, body.size() + (pad ? 1 : 0));
    if (pad) {
        out.push_back(0x00);
    }
    out.insert(out.end(), body.begin(), body.end());
}

}  // namespace detail

// r || s (two halves of equal size) as ECDSA-Sig-Value: a SEQUENCE of two
// minimal INTEGERs, the form openssl verifies.
inline Bytes derSignatureFromRs(std::span<const std::uint8_t> rs) {
    if (rs.empty() || rs.size() % 2 != 0) {
        throw std::runtime_error("r||s of odd or zero size");
    }
    const std::size_t half = rs.size() / 2;
    Bytes content;
    detail::appendDerInteger(content, rs.first(half));
    detail::appendDerInteger(content, rs.subspan(half));
    Bytes out{0x30};
    detail::appendDerLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

}  // namespace orva::testing
