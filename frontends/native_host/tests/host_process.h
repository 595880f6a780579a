#pragma once

// The built host program run over real pipes, as a browser runs it: frames in
// on its standard input, frames out of its standard output.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orva::native_host::test {

using namespace std::chrono_literals;

// One frame: 4 length bytes, least significant first, then the body.
std::string frame(std::string_view body);

class HostProcess {
  public:
    // Starts the host with the test's environment plus these variables.
    explicit HostProcess(const std::map<std::string, std::string>& environment);
    // Closes the pipes and waits; a host that does not end is killed.
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    pid_t pid() const noexcept { return pid_; }

    // Raw bytes to the host's standard input; false when the pipe is closed.
    bool write(std::string_view bytes);
    bool send(std::string_view body) { return write(frame(body)); }
    void closeInput();
    // Stops reading the host's output, as a browser that went away.
    void closeOutput();

    // The next frame's body; nullopt at the end of output or after timeout.
    // A frame longer than 1,048,576 bytes (the browser's limit) fails the test.
    std::optional<std::string> readFrame(std::chrono::milliseconds timeout = 20s);
    // One request and its reply (empty when none came).
    std::string request(std::string_view body);

    // Bytes left on the host's output until it closes it.
    std::string readRest(std::chrono::milliseconds timeout = 20s);
    // The exit status once the host ended (-1 when a signal ended it); nullopt
    // if it did not end in time.
    std::optional<int> waitExit(std::chrono::milliseconds timeout = 20s);

  private:
    // Reads until count bytes are buffered; false at the end or timeout.
    bool fill(std::size_t count, std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string buffered_;
    std::optional<int> status_;
};

}  // namespace orva::native_host::test
