// Loading ORVA_API.so with whole, broken and missing maker libraries beside it.
// Each test puts a copy of the built library into a folder of its own with the
// test copies of the maker's libraries, whose DllMain records attach and
// detach in a log, and loads it from there as a front end would.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "api_library.h"

namespace orva::api::test {
namespace {

using Log = std::vector<std::string>;

const Log kAttachAll = {"attach Scrivel", "attach Dravik", "attach QZAlgLib", "attach Pelnor"};
const Log kDetachAll = {"detach Dravik", "detach QZAlgLib", "detach Pelnor", "detach Scrivel"};

Log operator+(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class LibraryLoad : public ::testing::Test {
  protected:
    void SetUp() override { setenv("ORVA_API_TEST_PROBE_LOG", log_.c_str(), 1); }
    void TearDown() override { unsetenv("ORVA_API_TEST_PROBE_LOG"); }

    // A folder with ORVA_API.so and, for each maker library, the copy from the
    // named set; a library mapped to "" is left out.
    fs::path folder(const std::map<std::string, std::string>& sets,
                    const std::string& name = "install") {
        const fs::path dir = env_.root() / name;
        fs::create_directories(dir);
        fs::copy_file(binFolder() / "ORVA_API.so", dir / "ORVA_API.so");
        for (const char* name : {"Dravik", "QZAlgLib", "Pelnor", "Scrivel"}) {
            const auto it = sets.find(name);
            const std::string set = it == sets.end() ? "probe" : it->second;
            if (!set.empty()) {
                fs::copy_file(makerCopies(set) / (std::string(name) + ".so"),
                              dir / (std::string(name) + ".so"));
            }
        }
        return dir;
    }

    Log log() const {
        Log lines;
        std::istringstream in(readLog(log_));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    TestEnvironment env_;
    const fs::path log_ = env_.root() / "probe.log";
};

TEST_F(LibraryLoad, AllFourPresentLoadsThemInOrderAndUnloadFreesThemInOrder) {
    const fs::path dir = folder({});
    ApiLibrary api(dir);
    ASSERT_TRUE(api.loaded()) << orva_platform_last_load_error();
    EXPECT_EQ(log(), kAttachAll);
    const auto getCharset = ORVA_API_FN(api, QZAPI_GetCharset);
    EXPECT_EQ(callForText(getCharset).text, "GBK||UTF-8||GB18030");

    api.unload();
    EXPECT_EQ(log(), kAttachAll + kDetachAll);
    // Really gone, so a later load starts from the initial settings.
    EXPECT_EQ(dlopen((dir / "ORVA_API.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(LibraryLoad, DravikLackingItsLastNameFailsTheLoadBeforeQZAlgLib) {
    ApiLibrary api(folder({{"Dravik", "lacking_last"}}));
    EXPECT_FALSE(api.loaded());
    EXPECT_EQ(log(), (Log{"attach Scrivel", "attach Dravik", "detach Dravik", "detach Scrivel"}));
}

TEST_F(LibraryLoad, QZAlgLibLackingItsFirstNameFailsTheLoadBeforePelnor) {
    ApiLibrary api(folder({{"QZAlgLib", "lacking_first"}}));
    EXPECT_FALSE(api.loaded());
    EXPECT_EQ(log(), (Log{"attach Scrivel", "attach Dravik", "attach QZAlgLib", "detach Dravik",
                          "detach QZAlgLib", "detach Scrivel"}));
}

TEST_F(LibraryLoad, ANameNeverCalledIsStillRequired) {
    {
        ApiLibrary api(folder({{"Pelnor", "lacking_uncalled"}}));
        EXPECT_FALSE(api.loaded());
        EXPECT_EQ(log(), kAttachAll + kDetachAll);
    }
    fs::remove(log_);
    ApiLibrary api(folder({{"Dravik", "lacking_uncalled"}}, "install2"));
    EXPECT_FALSE(api.loaded());
    EXPECT_EQ(log(), (Log{"attach Scrivel", "attach Dravik", "detach Dravik", "detach Scrivel"}));
}

TEST_F(LibraryLoad, AMissingLibraryFailsTheLoad) {
    ApiLibrary api(folder({{"Pelnor", ""}}));
    EXPECT_FALSE(api.loaded());
    EXPECT_EQ(log(), (Log{"attach Scrivel", "attach Dravik", "attach QZAlgLib", "detach Dravik",
                          "detach QZAlgLib", "detach Scrivel"}));
}

TEST_F(LibraryLoad, ScrivelAbsentIsNoLoss) {
    ApiLibrary api(folder({{"Scrivel", ""}}));
    ASSERT_TRUE(api.loaded()) << orva_platform_last_load_error();
    EXPECT_EQ(log(), (Log{"attach Dravik", "attach QZAlgLib", "attach Pelnor"}));
    EXPECT_EQ(ORVA_API_FN(api, QZAPI_SetCharset)("UTF-8"), 0);
    api.unload();
    EXPECT_EQ(log(), (Log{"attach Dravik", "attach QZAlgLib", "attach Pelnor", "detach Dravik",
                          "detach QZAlgLib", "detach Pelnor"}));
}

TEST_F(LibraryLoad, ScrivelLackingLogAIsNoLoss) {
    ApiLibrary api(folder({{"Scrivel", "lacking_loga"}}));
    ASSERT_TRUE(api.loaded()) << orva_platform_last_load_error();
    EXPECT_EQ(log(), kAttachAll);
}

TEST_F(LibraryLoad, AFailedLoadLeavesNothingLoadedAndALaterLoadSucceeds) {
    const fs::path broken = folder({{"Dravik", "lacking_last"}});
    {
        ApiLibrary api(broken);
        ASSERT_FALSE(api.loaded());
    }
    // The maker's libraries are freed (whether the system unmaps them is theirs
    // to decide); ORVA_API.so is unmapped.
    for (const char* name : {"ORVA_API.so", "Dravik.so", "Scrivel.so"}) {
        EXPECT_EQ(GetModuleHandleA((broken / name).c_str()), nullptr) << name;
    }
    EXPECT_EQ(dlopen((broken / "ORVA_API.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

    ApiLibrary api(folder({}, "fixed"));
    ASSERT_TRUE(api.loaded()) << orva_platform_last_load_error();
    env_.plugKey("SN1");
    EXPECT_EQ(callForText(ORVA_API_FN(api, QZAPI_GetDevSN)).text, "SN1");
}

TEST_F(LibraryLoad, TwoLoadsShareOneAttachAndTheLastFreeDetaches) {
    const fs::path dir = folder({});
    ApiLibrary first(dir);
    ASSERT_TRUE(first.loaded());
    {
        ApiLibrary second(dir);
        ASSERT_TRUE(second.loaded());
        ASSERT_EQ(ORVA_API_FN(second, QZAPI_SetWarningTips)("kept"), 0);
    }
    EXPECT_EQ(log(), kAttachAll);
    first.unload();
    EXPECT_EQ(log(), kAttachAll + kDetachAll);
}

}  // namespace
}  // namespace orva::api::test
