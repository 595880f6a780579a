#pragma once

// What the timing programs share: running a command, finding the programs
// built beside them, and measuring work in a child process.

#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace orva::bench {

// A command's standard output; throws when it fails.
inline std::string run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        throw std::runtime_error("cannot run " + command);
    }
    std::string output;
    char chunk[4096];
    while (const std::size_t n = fread(chunk, 1, sizeof chunk, pipe.get())) {
        output.append(chunk, n);
    }
    if (pclose(pipe.release()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
    return output;
}

// The folder of the running program, where the build put everything.
inline std::filesystem::path ownFolder() {
    return std::filesystem::canonical("/proc/self/exe").parent_path();
}

struct ChildResult {
    double seconds = 0;
    long peakKib = 0;
};

// Runs work in a child process: its wall time and peak resident memory.
inline ChildResult inChild(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        try {
            work();
            _exit(0);
        } catch (const std::exception& e) {
            fprintf(stderr, "child: %s\n", e.what());
            _exit(1);
        }
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("child failed");
    }
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            usage.ru_maxrss};
}

}  // namespace orva::bench
