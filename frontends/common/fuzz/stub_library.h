#pragma once

// The recording stand-in token API library (frontends/common/tests/fake_api.cpp)
// as the front ends' fuzz targets use it: a registry that names it, and its
// answers (script.json), every export the same way so any call meets them,
// chosen per input.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frontend_test_support.h"
#include "orva_api_exports.h"

namespace orva::fuzz {

// One script per way of answering: plain success, a failure code, texts at
// and over the buffer sizes, empty texts with sizes no library means, a size
// query that answers too little, UTF-8 beyond ASCII, and bytes that are no
// text at all.
inline std::vector<std::string> stubScripts() {
    static constexpr std::string_view kAnswers[] = {
        R"({"code":0})",
        R"({"code":-203,"sizeCode":-203})",
        R"({"length":8191,"count":2147483647})",
        R"({"length":0,"sizeLength":-1,"count":-7})",
        R"({"length":259,"sizeLength":1})",
        "{\"text\":\"CN=\xe4\xb8\xad\xe6\x96\x87,O=Bank\"}",
        "{\"text\":\"\x80\xff\xd6\xd0\xc3\"}",
    };
    std::vector<std::string> scripts;
    for (std::string_view answer : kAnswers) {
        std::string script = "{";
        for (const char* name : kApiFunctionNames) {
            if (script.size() > 1) {
                script += ',';
            }
            // Without the "QZAPI_" prefix, as the stand-in looks names up.
            script += '"' + std::string(name + 6) + "\":" + std::string(answer);
        }
        scripts.push_back(script + "}");
    }
    return scripts;
}

// A folder of its own with the registry and one folder of answers per script.
class StubLibrary {
  public:
    StubLibrary() {
        namespace test = orva::frontend::test;
        folder_.write("registry.reg", test::providerRegistry(test::fakeApiFolder(), false));
        folder_.setEnv("ORVA_REGISTRY", (folder_.root() / "registry.reg").string());
        folder_.setEnv("TMPDIR", folder_.root().string());
        const std::vector<std::string> scripts = stubScripts();
        for (std::size_t i = 0; i < scripts.size(); ++i) {
            folder_.write(std::filesystem::path(folderName(i)) / "script.json", scripts[i]);
        }
        scriptCount_ = scripts.size();
        use(0);
    }

    // An input's setting byte: bits 0-3 pick the answers, bit 4 makes GBK the
    // ANSI code page. The call log starts empty.
    void use(std::uint8_t setting) {
        const std::filesystem::path dir =
            folder_.root() / folderName((setting & 0x0F) % scriptCount_);
        ::setenv("ORVA_FAKE_API_DIR", dir.c_str(), 1);
        ::setenv("ORVA_ACP", (setting & 0x10) != 0 ? "936" : "65001", 1);
        callLog_ = (dir / "calls.log").string();
        ::truncate(callLog_.c_str(), 0);
    }

    // Bytes logged since the input began: grows with every export call.
    off_t logged() const {
        struct stat info {};
        return ::stat(callLog_.c_str(), &info) == 0 ? info.st_size : 0;
    }

  private:
    static std::string folderName(std::size_t index) { return "script" + std::to_string(index); }

    orva::frontend::test::TestFolder folder_;
    std::size_t scriptCount_ = 1;
    std::string callLog_;
};

}  // namespace orva::fuzz
