#pragma once

// What every test of the token API library sets up: its own store of software
// keys, registry file and temporary folder, and ways to arrange keys, faults
// and the scripted user and to read the token manager's call trace.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orva/testing/support.h"
#include "store.h"
#include "token.h"
#include "win32/module.h"

namespace orva::api::test {

namespace fs = std::filesystem;

using orva::testing::readFile;
using orva::testing::readText;
using orva::testing::runCommand;
using orva::testing::writeFile;

struct ModuleFree {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using Module = std::unique_ptr<OrvaModule, ModuleFree>;

inline constexpr const char* kTestPin = "12345678";

// A fresh folder for one test with ORVA_SOFTKEY_DIR, ORVA_REGISTRY and TMPDIR
// pointing into it; everything is restored and removed at the end.
class TestEnvironment {
  public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    const fs::path& root() const noexcept { return dir_.path(); }
    softkey::Store store() const { return softkey::Store(root() / "softkey"); }

    // A key plugged in with kTestPin as its (changed) PIN.
    void plugKey(const std::string& serial);
    // Changes a key in the store as it stands.
    void changeKey(const std::string& serial, const std::function<void(softkey::Token&)>& change);
    softkey::Token key(const std::string& serial) const;

    // faults.json and user.json, as JSON texts.
    void setFaults(std::string_view json);
    void setUser(std::string_view json);

    // From now on the token manager appends every call's name to its trace.
    void startTrace();
    std::vector<std::string> trace() const;
    // How often a name occurs in the trace.
    std::size_t traced(std::string_view name) const;

    // The registry file's text after its REGEDIT4 header.
    void setRegistry(std::string_view text);

    // Writes a file relative to the root.
    void writeFile(const fs::path& relative, std::string_view text) const;

  private:
    orva::testing::TempDir dir_{"orva-api-test"};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The folder ORVA_API.so and the maker's libraries were built into.
fs::path binFolder();
// The folder of one set of test copies of the maker's libraries.
fs::path makerCopies(std::string_view folder);

// A log the code under test appends to: empty while it has written none.
std::string readLog(const fs::path& path);

}  // namespace orva::api::test
