#pragma once

// What the control's tests share: a test folder whose registry names the
// stand-in (or real) token API library, the control registered there, and
// calls by name through IDispatch as a page's script makes them.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "com_call.h"
#include "frontend_test_support.h"
#include "orva/hex.h"
#include "orva_result_codes.h"
#include "regsvr.h"
#include "win32/com.h"

namespace orva::control::test {

namespace fs = std::filesystem;
using frontend::test::TestFolder;

inline constexpr std::string_view kProgId = "Orva_usbkey_ctrl.orva_usbkey";

inline fs::path controlModule() {
    return frontend::test::binFolder() / "ORVAGM_XRUsbKey.so";
}

// "616263" for "abc", quoted, as the stand-in logs a text.
inline std::string hx(std::string_view text) {
    return "\"" + toHex(orva::testing::bytesOf(text)) + "\"";
}

// One line of the stand-in's call log.
inline std::string call(std::string_view fn, std::string_view args = "") {
    return "{\"fn\":\"" + std::string(fn) + "\",\"args\":[" + std::string(args) + "]}";
}

// A test with its own registry, in which the control is registered and the
// provider's "Image Path" names a file in apiFolder (none: no provider key).
class ControlTest : public ::testing::Test {
  protected:
    explicit ControlTest(const fs::path& apiFolder = frontend::test::fakeApiFolder()) {
        fs::create_directories(folder_.root() / "fake");
        folder_.write("registry.reg", apiFolder.empty()
                                          ? std::string("REGEDIT4\n")
                                          : frontend::test::providerRegistry(apiFolder, false));
        folder_.setEnv("ORVA_REGISTRY", (folder_.root() / "registry.reg").string());
        folder_.setEnv("ORVA_FAKE_API_DIR", (folder_.root() / "fake").string());
        folder_.setEnv("TMPDIR", folder_.root().string());
        const tools::RegsvrOutcome registered = tools::runRegsvr({controlModule().string()});
        EXPECT_EQ(registered.exitCode, 0) << registered.message;
    }

    void script(std::string_view json) { folder_.write("fake/script.json", json); }

    // Every call the stand-in saw since the last look, oldest first.
    std::vector<std::string> takeCalls() {
        std::vector<std::string> calls;
        std::istringstream lines(folder_.read("fake/calls.log"));
        for (std::string line; std::getline(lines, line);) {
            calls.push_back(line);
        }
        folder_.write("fake/calls.log", "");
        return calls;
    }

    tools::CallOutcome invoke(std::string_view method, const std::vector<std::string>& args = {}) {
        return tools::callByName(kProgId, method, args);
    }

    // The control's own interface, for calls through the vtable.
    template <class I>
    I* create(const IID& iid) {
        CLSID clsid{};
        const std::u16string progId = tools::utf16Of(kProgId);
        EXPECT_EQ(CLSIDFromProgID(progId.c_str(), &clsid), S_OK);
        void* object = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object), S_OK);
        return static_cast<I*>(object);
    }

    TestFolder folder_;
};

}  // namespace orva::control::test
