#pragma once

// What the timing programs share: their own folder, a temporary folder that
// holds their key store and registry, and ORVA_API.so loaded the way a front
// end loads it.

#include <stdlib.h>

#include <filesystem>
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

}  // namespace orva::bench
