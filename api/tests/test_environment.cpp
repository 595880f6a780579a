#include "test_environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orva::api::test {

namespace {

constexpr const char* kVariables[] = {"ORVA_SOFTKEY_DIR", "ORVA_REGISTRY", "TMPDIR"};

fs::path makeTempFolder() {
    std::string pattern = (fs::temp_directory_path() / "orva-api-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

}  // namespace

TestEnvironment::TestEnvironment() : root_(makeTempFolder()) {
    for (const char* name : kVariables) {
        const char* value = getenv(name);
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    fs::create_directories(root_ / "softkey");
    fs::create_directories(root_ / "tmp");
    setenv("ORVA_SOFTKEY_DIR", (root_ / "softkey").c_str(), 1);
    setenv("ORVA_REGISTRY", (root_ / "registry.reg").c_str(), 1);
    setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
}

TestEnvironment::~TestEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
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
    std::istringstream lines(readFile(root_ / "softkey/trace.log"));
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
    std::ofstream out(root_ / relative, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + (root_ / relative).string());
    }
}

fs::path binFolder() {
    return ORVA_API_TEST_BIN_DIR;
}

fs::path makerCopies(std::string_view folder) {
    return fs::path(ORVA_API_TEST_MAKERS) / folder;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace orva::api::test
