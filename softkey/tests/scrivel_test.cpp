// Scrivel.so: loaded by name, it shows LogA and LogW and nothing else, and
// they accept any arguments without reading them.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "maker/scrivel.h"
#include "win32/module.h"

namespace {

struct ModuleFree {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using Module = std::unique_ptr<OrvaModule, ModuleFree>;

struct PipeClose {
    void operator()(FILE* f) const noexcept { pclose(f); }
};

TEST(Scrivel, ExportsExactlyTheTwoLogCalls) {
    const std::string path = std::string(SCRIVEL_TEST_BIN_DIR) + "/Scrivel.so";
    const std::unique_ptr<FILE, PipeClose> pipe(
        popen(("'" SCRIVEL_TEST_NM "' -D --defined-only '" + path + "'").c_str(), "r"));
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::array<char, 1024> chunk{};
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0;) {
        output.append(chunk.data(), n);
    }
    std::vector<std::string> names;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"LogA", "LogW"}));
}

TEST(Scrivel, LogCallsResolveAndIgnoreTheirArguments) {
    const std::string path = std::string(SCRIVEL_TEST_BIN_DIR) + "/Scrivel.dll";
    const Module module(LoadLibraryA(path.c_str()));
    ASSERT_NE(module, nullptr) << orva_platform_last_load_error();
    const auto logA = reinterpret_cast<decltype(&LogA)>(GetProcAddress(module.get(), "LogA"));
    const auto logW = reinterpret_cast<decltype(&LogW)>(GetProcAddress(module.get(), "LogW"));
    ASSERT_NE(logA, nullptr);
    ASSERT_NE(logW, nullptr);
    // Formats whose arguments are missing or wrong would fault if anything read them.
    logA("%s %s %n", nullptr);
    logA(nullptr);
    logW(u"%s %d", 42);
    logW(nullptr, nullptr);
}

}  // namespace
