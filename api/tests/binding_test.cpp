// Attach and detach as DllMain runs them, looked at from inside: the binding
// table, the module handles, the logging pointers and the texts detach clears.
// The test program lives in the build's bin folder, so binding with its own
// module handle finds the maker's libraries there, as ORVA_API.so does.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bound_function_table.h"
#include "library_lifecycle.h"
#include "library_loader.h"
#include "log_api.h"
#include "orva_api.h"
#include "process_state.h"
#include "test_environment.h"
#include "win32/module.h"

extern "C" BOOL DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);

namespace orva::api {
namespace {

using test::binFolder;
using test::makerCopies;
using test::Module;
using test::TestEnvironment;

std::string moduleFolder(HMODULE module) {
    char path[4096] = {};
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    return test::fs::path(std::string(path, n)).parent_path().string();
}

class Binding : public ::testing::Test {
  protected:
    void TearDown() override { processDetach(); }

    const HMODULE self_ = GetModuleHandleA(nullptr);
    TestEnvironment env_;
};

TEST_F(Binding, AttachBindsAll132NamesFromTheModulesOwnFolder) {
    ASSERT_EQ(boundNameCount(), 132u);
    ASSERT_EQ(boundEntryCount(), 0u);
    ASSERT_EQ(DllMain(self_, DLL_PROCESS_ATTACH, nullptr), TRUE);

    EXPECT_EQ(boundEntryCount(), 132u);
    const BoundFunctionTable& table = boundFunctions();
    for (HMODULE module :
         {table.dravikModule, table.qzAlgLibModule, table.pelnorModule, table.scrivelModule}) {
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(moduleFolder(module), binFolder().string());
    }
    // Typed entries reach the functions of the maker's headers.
    EXPECT_EQ(reinterpret_cast<FARPROC>(table.qzAlgLib.QZA_GetAsymKeyBits),
              GetProcAddress(table.qzAlgLibModule, "QZA_GetAsymKeyBits"));
    EXPECT_EQ(table.qzAlgLib.QZA_GetAsymKeyBits(QZA_ALG_SM2), 256);
    EXPECT_EQ(reinterpret_cast<FARPROC>(logApi().LogA),
              GetProcAddress(table.scrivelModule, "LogA"));
    EXPECT_EQ(reinterpret_cast<FARPROC>(logApi().LogW),
              GetProcAddress(table.scrivelModule, "LogW"));
}

TEST_F(Binding, DetachFreesEverythingAndClearsTheTableAndTexts) {
    const LogApi before = logApi();
    ASSERT_EQ(DllMain(self_, DLL_PROCESS_ATTACH, nullptr), TRUE);
    ASSERT_EQ(QZAPI_SetWarningTips("careful"), 0);
    std::strcpy(processState().signerCn.data(), "ZHANGSAN");

    EXPECT_EQ(DllMain(self_, DLL_PROCESS_DETACH, nullptr), TRUE);

    const BoundFunctionTable& table = boundFunctions();
    EXPECT_EQ(table.dravikModule, nullptr);
    EXPECT_EQ(table.qzAlgLibModule, nullptr);
    EXPECT_EQ(table.pelnorModule, nullptr);
    EXPECT_EQ(table.scrivelModule, nullptr);
    EXPECT_EQ(boundEntryCount(), 0u);
    EXPECT_EQ(processState().warningTips.text, nullptr);
    EXPECT_EQ(processState().warningTips.length, 0);
    for (char c : processState().signerCn) {
        ASSERT_EQ(c, '\0');
    }
    // Logging points at the do-nothing functions again, never into a freed Scrivel.
    EXPECT_EQ(logApi().LogA, before.LogA);
    EXPECT_EQ(logApi().LogW, before.LogW);
    EXPECT_EQ(GetModuleHandleA((binFolder() / "Dravik.so").c_str()), nullptr);
}

TEST_F(Binding, ASecondAttachAfterDetachBindsAgain) {
    ASSERT_EQ(DllMain(self_, DLL_PROCESS_ATTACH, nullptr), TRUE);
    ASSERT_EQ(DllMain(self_, DLL_PROCESS_DETACH, nullptr), TRUE);
    ASSERT_EQ(DllMain(self_, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(boundEntryCount(), 132u);
}

TEST_F(Binding, ThreadNotificationsDoNothing) {
    EXPECT_EQ(DllMain(self_, DLL_THREAD_ATTACH, nullptr), TRUE);
    EXPECT_EQ(DllMain(self_, DLL_THREAD_DETACH, nullptr), TRUE);
    EXPECT_EQ(boundEntryCount(), 0u);
    EXPECT_EQ(boundFunctions().dravikModule, nullptr);
}

TEST_F(Binding, ResolverStopsAtTheFirstMissingName) {
    // QZAlgLib without its first name: nothing after it is looked up.
    const Module qzAlgLib(LoadLibraryA((makerCopies("lacking_first") / "QZAlgLib.so").c_str()));
    ASSERT_NE(qzAlgLib, nullptr) << orva_platform_last_load_error();
    boundFunctions().qzAlgLibModule = qzAlgLib.get();
    EXPECT_EQ(resolveQZAlgLib(), 0);
    EXPECT_EQ(boundEntryCount(), 0u);
    boundFunctions().qzAlgLibModule = nullptr;

    // Dravik without its last name: the 87 before it are stored, the last is null.
    const Module dravik(LoadLibraryA((makerCopies("lacking_last") / "Dravik.so").c_str()));
    ASSERT_NE(dravik, nullptr) << orva_platform_last_load_error();
    boundFunctions().dravikModule = dravik.get();
    EXPECT_EQ(resolveDravik(), 0);
    EXPECT_EQ(boundEntryCount(), 87u);
    EXPECT_NE(boundFunctions().dravik.QZSecureInitADF, nullptr);
    EXPECT_EQ(boundFunctions().dravik.QZAsymImportKey_ORVA, nullptr);
    boundFunctions().dravikModule = nullptr;
    clearBoundEntries();
}

TEST_F(Binding, LibraryPathIsTheModulesFolderOrTheBareName) {
    EXPECT_EQ(makerLibraryPath(self_, kDravikFile), (binFolder() / "Dravik.dll").string());
    // Without a module the system's search order applies.
    EXPECT_EQ(makerLibraryPath(nullptr, kPelnorFile), std::string("Pelnor.dll"));
}

}  // namespace
}  // namespace orva::api
