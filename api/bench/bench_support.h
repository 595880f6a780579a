#pragma once

// What the timing programs share: commands run through the shell, the folder
// the program was built into, and a folder of their own for the software key's
// store, the registry file and temporary files.

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace orva::bench {

namespace fs = std::filesystem;

// A shell command's standard output; throws when it fails.
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

inline fs::path ownFolder() {
    return fs::canonical("/proc/self/exe").parent_path();
}

// A fresh folder that ORVA_SOFTKEY_DIR, ORVA_REGISTRY and TMPDIR point into for
// the program's run; removed at its end.
class BenchFolder {
  public:
    BenchFolder() {
        std::string pattern = (fs::temp_directory_path() / "orva-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root_ = pattern;
        fs::create_directories(root_ / "tmp");
        setenv("ORVA_SOFTKEY_DIR", (root_ / "store").c_str(), 1);
        setenv("ORVA_REGISTRY", (root_ / "registry.reg").c_str(), 1);
        setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
    }
    ~BenchFolder() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const fs::path& root() const noexcept { return root_; }
    // The softkey tool beside the program, quoted for the shell.
    std::string tool() const { return "'" + (ownFolder() / "softkey").string() + "'"; }

  private:
    fs::path root_;
};

}  // namespace orva::bench
