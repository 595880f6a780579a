// Runs the built host with pipes on its standard input and output.

#include "host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace orva::native_host::test {

namespace {

constexpr std::size_t kBrowserFrameLimit = 1'048'576;

}  // namespace

std::string frame(std::string_view body) {
    std::string out(4, '\0');
    const auto length = static_cast<std::uint32_t>(body.size());
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    out.append(body);
    return out;
}

HostProcess::HostProcess(const std::map<std::string, std::string>& environment) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : environment) {
        variables[name] = value;
    }
    std::vector<std::string> texts;
    for (const auto& [name, value] : variables) {
        texts.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& text : texts) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);

    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string program = ORVA_HOST_PROGRAM;
    char* argv[] = {program.data(), const_cast<char*>("chrome-extension://test/"), nullptr};
    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
    }
}

HostProcess::~HostProcess() {
    closeInput();
    const std::optional<int> status = waitExit(10s);
    if (!status) {
        ::kill(pid_, SIGKILL);
        waitExit(10s);
        ADD_FAILURE() << "the host did not end when its input ended";
    } else {
        // Also what a sanitizer build reports: a leak ends the host with another status.
        EXPECT_EQ(*status, 0) << "the host's exit status";
    }
    closeOutput();
}

bool HostProcess::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(input_, bytes.data(), bytes.size());
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

void HostProcess::closeInput() {
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
    }
}

void HostProcess::closeOutput() {
    if (output_ >= 0) {
        ::close(output_);
        output_ = -1;
    }
}

bool HostProcess::fill(std::size_t count, std::chrono::steady_clock::time_point deadline) {
    std::array<char, 65536> chunk;
    while (buffered_.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (output_ < 0 || left.count() <= 0) {
            return false;
        }
        pollfd ready{output_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            return false;
        }
        const ssize_t got = ::read(output_, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        buffered_.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return true;
}

std::optional<std::string> HostProcess::readFrame(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!fill(4, deadline)) {
        return std::nullopt;
    }
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(buffered_[i])) << (8 * i);
    }
    EXPECT_LE(length, kBrowserFrameLimit) << "a browser closes the port on this frame";
    if (!fill(4 + std::size_t{length}, deadline)) {
        ADD_FAILURE() << "a frame cut short: " << length << " bytes announced";
        return std::nullopt;
    }
    std::string body = buffered_.substr(4, length);
    buffered_.erase(0, 4 + std::size_t{length});
    return body;
}

std::string HostProcess::request(std::string_view body) {
    EXPECT_TRUE(send(body));
    std::optional<std::string> reply = readFrame();
    EXPECT_TRUE(reply) << "no reply to " << body.substr(0, 200);
    return reply.value_or("");
}

std::string HostProcess::readRest(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (fill(buffered_.size() + 1, deadline)) {
    }
    return std::exchange(buffered_, {});
}

std::optional<int> HostProcess::waitExit(std::chrono::milliseconds timeout) {
    if (status_) {
        return status_;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return status_;
        }
        if (done < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        ::usleep(2000);
    }
}

}  // namespace orva::native_host::test
