#pragma once

// A temporary store per test, named by $ORVA_SOFTKEY_DIR as the libraries read
// it, and small readers of what the store holds.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "crypto_test_support.h"
#include "json.h"
#include "store.h"
#include "win32/module.h"

namespace orva::softkey::test {

class TempStore {
  public:
    TempStore() : store_(dir_.file("store")) {
        const char* previous = std::getenv("ORVA_SOFTKEY_DIR");
        if (previous != nullptr) {
            previous_ = previous;
        }
        setenv("ORVA_SOFTKEY_DIR", dir_.file("store").c_str(), 1);
    }
    ~TempStore() {
        if (previous_) {
            setenv("ORVA_SOFTKEY_DIR", previous_->c_str(), 1);
        } else {
            unsetenv("ORVA_SOFTKEY_DIR");
        }
    }
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    Store& store() noexcept { return store_; }
    const TempDir& dir() const noexcept { return dir_; }
    std::string path(const std::string& name) const { return (store_.root() / name).string(); }

    // Writes a store file as a test or a hand would.
    void put(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories(store_.root());
        writeFile(path(name), text);
    }

    std::vector<std::string> lines(const std::string& name) const {
        std::vector<std::string> out;
        std::ifstream in(path(name));
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

  private:
    TempDir dir_;
    Store store_;
    std::optional<std::string> previous_;
};

// An export list "Name* Other ..." as (name, works) pairs, in order.
inline std::vector<std::pair<std::string, bool>> exportList(std::string_view text) {
    std::vector<std::pair<std::string, bool>> out;
    std::istringstream words{std::string(text)};
    for (std::string word; words >> word;) {
        const bool working = word.back() == '*';
        if (working) {
            word.pop_back();
        }
        out.emplace_back(word, working);
    }
    return out;
}

// Members a later version of the key file may add, at the top and in each
// container.
inline constexpr const char* kLaterTop = R"({"list": [1, "two", {"three": null}], "n": 1.5})";
inline constexpr const char* kLaterContainer = R"({"flag": true})";

inline void addLaterFields(const std::string& keyFile) {
    const json::Ptr doc = json::parse(readText(keyFile));
    ASSERT_NE(doc, nullptr);
    json::add(doc.get(), "later", json::parse(kLaterTop));
    cJSON* container = nullptr;
    cJSON_ArrayForEach(container, cJSON_GetObjectItem(doc.get(), "containers")) {
        json::add(container, "laterToo", json::parse(kLaterContainer));
    }
    const SecureString text = json::print(doc.get(), true);
    writeFile(keyFile, std::string_view(text.data(), text.size()));
}

// Whether a key file with containers holds what addLaterFields added.
inline bool keepsLaterFields(const std::string& keyFile) {
    const json::Ptr doc = json::parse(readText(keyFile));
    const cJSON* containers = json::member(doc.get(), "containers");
    bool kept =
        cJSON_Compare(json::member(doc.get(), "later"), json::parse(kLaterTop).get(), true) != 0 &&
        cJSON_GetArraySize(containers) > 0;
    const cJSON* container = nullptr;
    cJSON_ArrayForEach(container, containers) {
        kept = kept && cJSON_Compare(json::member(container, "laterToo"),
                                     json::parse(kLaterContainer).get(), true) != 0;
    }
    return kept;
}

#ifdef SOFTKEY_TEST_NM
// The names a shared library exports, as nm sees them.
inline std::set<std::string> exportedNames(const std::string& library) {
    const std::string command =
        std::string(SOFTKEY_TEST_NM) + " -D --defined-only '" + library + "'";
    std::set<std::string> names;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return names;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) {
            names.insert(name);
        }
    }
    if (pclose(pipe) != 0) {
        names.insert("(nm failed)");
    }
    return names;
}

// Loads "<bin>/<library>.dll" as the token API library does, resolves every
// name of the list in order, has each stub answer notSupported, and checks that
// nm sees exactly these names exported by "<library>.so".
inline void expectExactExports(const std::string& library,
                               const std::vector<std::pair<std::string, bool>>& list,
                               std::uint32_t notSupported) {
    const std::string base = std::string(SOFTKEY_TEST_BIN_DIR) + "/" + library;
    HMODULE module = LoadLibraryA((base + ".dll").c_str());
    ASSERT_NE(module, nullptr) << orva_platform_last_load_error();
    std::set<std::string> names;
    for (const auto& [name, working] : list) {
        names.insert(name);
        const FARPROC proc = GetProcAddress(module, name.c_str());
        ASSERT_NE(proc, nullptr) << name;
        if (!working) {
            EXPECT_EQ(reinterpret_cast<std::uint32_t (*)()>(proc)(), notSupported) << name;
        }
    }
    FreeLibrary(module);
    EXPECT_EQ(exportedNames(base + ".so"), names);
}
#endif

}  // namespace orva::softkey::test
