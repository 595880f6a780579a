#pragma once

// A provider under test: its own registry, software-key store and system
// folder, and a copy of QZKSP.so under the file name asked for (a copy is a
// fresh instance, with its own algorithm cache), loaded through the router
// stand-in.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "orva/testing/support.h"
#include "router.h"

namespace orva::ksp_test {

namespace fs = std::filesystem;
using orva::cng::Bytes;

inline constexpr const char* kNamedProvider = "QZKSP#Korvane CSP ORVA V1.0.so";

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// The registration line of the provider's "Image Path" naming the built module.
inline std::string imagePathLine(const std::string& modulePath) {
    return "\"Image Path\"=\"" + modulePath + "\"";
}

class KspEnvironment {
  public:
    explicit KspEnvironment(const std::string& providerFile = kNamedProvider,
                            std::optional<std::string> registration = std::nullopt,
                            const std::string& providerKey = "Korvane CSP ORVA V1.0")
        : registry_("ORVA_REGISTRY", (dir_.path() / "registry.reg").string()),
          store_("ORVA_SOFTKEY_DIR", (dir_.path() / "store").string()),
          system_("ORVA_SYSTEM_DIR", (dir_.path() / "system").string()) {
        const std::string line =
            registration.value_or(imagePathLine(std::string(KSP_TEST_BIN_DIR) + "/qzcore3.so"));
        testing::writeFile(dir_.path() / "registry.reg",
                           "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\"
                           "Defaults\\Provider\\" +
                               providerKey + "]\n" + line + "\n");
        fs::create_directories(dir_.path() / "store");
        providerPath_ = dir_.path() / providerFile;
        fs::copy_file(fs::path(KSP_TEST_BIN_DIR) / "QZKSP.so", providerPath_);
    }

    const fs::path& dir() const { return dir_.path(); }
    const fs::path& providerPath() const { return providerPath_; }
    fs::path store() const { return dir_.path() / "store"; }

    // The module's faults, as the softkey tool writes them.
    void setFaults(const std::string& json) const {
        testing::writeFile(store() / "faults.json", json);
    }
    void failNext(const std::string& entry, std::uint32_t status, int count = 1) const {
        setFaults("{\"fail\": {\"" + entry + "\": {\"status\": " + std::to_string(status) +
                  ", \"count\": " + std::to_string(count) + "}}}");
    }
    void traceOn() const { testing::writeFile(store() / "trace", ""); }
    // Trace lines of the module's calls, and the trace emptied.
    std::vector<std::string> takeTrace() const {
        std::vector<std::string> lines;
        std::ifstream in(store() / "trace.log");
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        fs::remove(store() / "trace.log");
        return lines;
    }

  private:
    testing::TempDir dir_{"ksp_test"};
    ScopedEnv registry_;
    ScopedEnv store_;
    ScopedEnv system_;
    fs::path providerPath_;
};

}  // namespace orva::ksp_test
