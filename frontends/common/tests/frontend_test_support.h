#pragma once

// What the front ends' tests share: a temporary folder per test with the
// environment pointing into it, registry text for the provider key, and the
// folders of the stand-in token API library.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orva/testing/support.h"

namespace orva::frontend::test {

namespace fs = std::filesystem;

// A fresh folder; removed, and the variables set through it restored, at the end.
class TestFolder {
  public:
    TestFolder() = default;
    ~TestFolder() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const fs::path& root() const noexcept { return dir_.path(); }

    void setEnv(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    void write(const fs::path& relative, std::string_view text) const {
        fs::create_directories((root() / relative).parent_path());
        orva::testing::writeFile(root() / relative, text);
    }

    // A file's text; empty for a file not written (yet).
    std::string read(const fs::path& relative) const {
        return fs::exists(root() / relative) ? orva::testing::readText(root() / relative) : "";
    }

  private:
    orva::testing::TempDir dir_{"orva_frontend"};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The provider key's section header in the 32-bit view (the host's) or the native one.
inline std::string providerSection(bool view32) {
    return std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\") + (view32 ? "Wow6432Node\\" : "") +
           "Microsoft\\Cryptography\\Defaults\\Provider\\Korvane CSP ORVA V1.0]\n";
}

// A .reg text string, with its backslashes and quotes escaped.
inline std::string regString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// Registry text whose provider "Image Path" names a file in folder.
inline std::string providerRegistry(const fs::path& folder, bool view32 = true) {
    return "REGEDIT4\n\n" + providerSection(view32) +
           "\"Image Path\"=" + regString((folder / "qzcore3.so").string()) + "\n";
}

// The folders of the stand-in token API library: all 40 exports, and all but
// QZAPI_GetCertType.
inline fs::path fakeApiFolder() {
    return ORVA_FAKE_API_COMPLETE;
}
inline fs::path fakeApiLackingFolder() {
    return ORVA_FAKE_API_LACKING;
}
// The build's own folder of programs and libraries.
inline fs::path binFolder() {
    return ORVA_TEST_BIN_DIR;
}

}  // namespace orva::frontend::test
