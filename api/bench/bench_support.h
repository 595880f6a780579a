#pragma once

// What the timing programs share: their own folder, a temporary folder that
// holds their key store and registry, ORVA_API.so loaded the way a front end
// loads it, running a command, and measuring work in a child process.

#include <stdio.h>
#include <stdlib.h>
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

#include "win32/module.h"

namespace orva::bench {

inline std::filesystem::path ownFolder() {
    return std::filesystem::canonical("/proc/self/exe").parent_path();
}

// A new folder under the temporary folder with ORVA_SOFTKEY_DIR, ORVA_REGISTRY
// and TMPDIR pointing into it; removed with everything in it at the end.
class BenchFolder {
  public:
    BenchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orva-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root_ = pattern;
        std::filesystem::create_directories(root_ / "tmp");
        setenv("ORVA_SOFTKEY_DIR", (root_ / "store").c_str(), 1);
        setenv("ORVA_REGISTRY", (root_ / "registry.reg").c_str(), 1);
        setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
    }
    ~BenchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const std::filesystem::path& root() const noexcept { return root_; }

  private:
    std::filesystem::path root_;
};

// ORVA_API.so from the program's folder, and one of its exports.
template <class Export>
class ApiExport {
  public:
    explicit ApiExport(const char* name)
        : module_(LoadLibraryA((ownFolder() / "ORVA_API.dll").c_str())) {
        if (module_ == nullptr) {
            throw std::runtime_error("cannot load ORVA_API");
        }
        call_ = reinterpret_cast<Export>(GetProcAddress(module_, name));
        if (call_ == nullptr) {
            FreeLibrary(module_);
            throw std::runtime_error(std::string("no export ") + name);
        }
    }
    ~ApiExport() { FreeLibrary(module_); }
    ApiExport(const ApiExport&) = delete;
    ApiExport& operator=(const ApiExport&) = delete;

    Export operator*() const noexcept { return call_; }

  private:
    HMODULE module_ = nullptr;
    Export call_ = nullptr;
};

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
