#include "test_environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>

namespace orva::api::test {

namespace {

constexpr const char* kVariables[] = {"ORVA_SOFTKEY_DIR", "ORVA_REGISTRY", "TMPDIR"};

}  // namespace

TestEnvironment::TestEnvironment() {
    for (const char* name : kVariables) {
        const char* value = getenv(name);
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    fs::create_directories(root() / "softkey");
    fs::create_directories(root() / "tmp");
    setenv("ORVA_SOFTKEY_DIR", (root() / "softkey").c_str(), 1);
    setenv("ORVA_REGISTRY", (root() / "registry.reg").c_str(), 1);
    setenv("TMPDIR", (root() / "tmp").c_str(), 1);
}

TestEnvironment::~TestEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}

void TestEnvironment::plugKey(const std::string& serial) {
    softkey::Token token = softkey::newToken(serial, kTestPin);
    token.pin.isDefault = false;
    store().create(token);
}

void TestEnvironment::changeKey(const std::string& serial,
                                const std::function<void(softkey::Token&)>& change) {
    store().update(serial, false, change);
}

softkey::Token TestEnvironment::key(const std::string& serial) const {
    return store().read(serial);
}

void TestEnvironment::setFaults(std::string_view json) {
    writeFile("softkey/faults.json", json);
}

void TestEnvironment::setUser(std::string_view json) {
    writeFile("softkey/user.json", json);
}

void TestEnvironment::startTrace() {
    writeFile("softkey/trace", "");
}

std::vector<std::string> TestEnvironment::trace() const {
    std::vector<std::string> calls;
    std::istringstream lines(readLog(root() / "softkey/trace.log"));
    for (std::string line; std::getline(lines, line);) {
        calls.push_back(line);
    }
    return calls;
}

std::size_t TestEnvironment::traced(std::string_view name) const {
    std::size_t count = 0;
    for (const std::string& call : trace()) {
        count += call == name ? 1 : 0;
    }
    return count;
}

void TestEnvironment::setRegistry(std::string_view text) {
    writeFile("registry.reg", "REGEDIT4\n\n" + std::string(text));
}

void TestEnvironment::writeFile(const fs::path& relative, std::string_view text) const {
    orva::testing::writeFile(root() / relative, text);
}

fs::path binFolder() {
    return ORVA_API_TEST_BIN_DIR;
}

fs::path makerCopies(std::string_view folder) {
    return fs::path(ORVA_API_TEST_MAKERS) / folder;
}

std::string readLog(const fs::path& path) {
    return fs::exists(path) ? readText(path) : std::string();
}

}  // namespace orva::api::test
