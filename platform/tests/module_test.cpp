// Module loading through libplatform.so, with the test modules built beside
// this program (platform/tests/modules). Their DllMain calls append to the
// file named by $ORVA_MODTEST_LOG, which each test points at a fresh file.

#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "orva/module_folder.h"
#include "win32/errors.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;

std::string executablePath() {
    return fs::read_symlink("/proc/self/exe").string();
}

std::string besideExecutable(const std::string& name) {
    return (fs::path(executablePath()).parent_path() / name).string();
}

// Whether the dynamic loader still has the file mapped.
bool isMapped(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) {
        return false;
    }
    dlclose(handle);
    return true;
}

std::string fileName(HMODULE module) {
    std::vector<char> buffer(4096);
    const DWORD n = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::string(buffer.data(), n);
}

template <typename F>
F procAs(HMODULE module, const char* name) {
    return reinterpret_cast<F>(GetProcAddress(module, name));
}

class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "module_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        log_ = (fs::path(dir_) / "events.log").string();
        setenv("ORVA_MODTEST_LOG", log_.c_str(), 1);
        cwd_ = fs::current_path();
    }

    void TearDown() override {
        fs::current_path(cwd_);
        unsetenv("ORVA_MODTEST_LOG");
        fs::remove_all(dir_);
    }

    std::vector<std::string> events() const {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void clearEvents() const { fs::remove(log_); }

    std::string dir_;
    std::string log_;
    fs::path cwd_;
};

using Events = std::vector<std::string>;

TEST_F(ModuleTest, RejectsBadArguments) {
    const std::string plain = besideExecutable("modtest_plain.so");
    struct Case {
        const char* name;
        HANDLE file;
        DWORD flags;
    } cases[] = {
        {nullptr, nullptr, 0},
        {"", nullptr, 0},
        {plain.c_str(), nullptr, 0x10},
        {plain.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH | 0x1},
        {plain.c_str(), reinterpret_cast<HANDLE>(&cases), 0},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryExA(c.name, c.file, c.flags), nullptr);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER}) << c.flags;
    }
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});

    HMODULE module = LoadLibraryExA(plain.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(isMapped(plain));
}

TEST_F(ModuleTest, ResolvesAndFindsNames) {
    const std::string plain = besideExecutable("modtest_plain.so");
    const std::string pathDll = besideExecutable("modtest_plain.dll");
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("modtest_plain.so"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});

    // A bare name is found beside the executable, and reported by its full path.
    HMODULE bare = LoadLibraryA("modtest_plain.so");
    ASSERT_NE(bare, nullptr) << orva_platform_last_load_error();
    EXPECT_EQ(fileName(bare), plain);
    EXPECT_STREQ(orva_platform_last_load_error(), "");

    // ".dll", in any case, names the ".so" file; the same file is the same module.
    for (const char* name : {"modtest_plain.dll", "modtest_plain.DLL", pathDll.c_str()}) {
        HMODULE again = LoadLibraryA(name);
        EXPECT_EQ(again, bare) << name;
        EXPECT_TRUE(FreeLibrary(again));
    }
    // A loaded module is found by any case of its name, without a reference.
    for (const std::string& name :
         {std::string("modtest_plain.so"), std::string("MODTEST_PLAIN.DLL"), plain, pathDll}) {
        EXPECT_EQ(GetModuleHandleA(name.c_str()), bare) << name;
    }
    for (const char* name : {"modtest_plain", "/elsewhere/modtest_plain.so", ""}) {
        EXPECT_EQ(GetModuleHandleA(name), nullptr) << name;
    }
    auto value = procAs<int (*)()>(bare, "modtest_plain_value");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value(), 42);
    EXPECT_TRUE(FreeLibrary(bare));
    EXPECT_FALSE(isMapped(plain));
    EXPECT_EQ(GetModuleHandleA("modtest_plain.so"), nullptr);

    // Only the extension is mapped, and only ".dll" at the very end.
    for (const char* name :
         {"MODTEST_PLAIN.dll", "modtest_plain.dllx", "modtest_plain", "nowhere.dll"}) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryA(name), nullptr) << name;
        EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND}) << name;
        EXPECT_STRNE(orva_platform_last_load_error(), "") << name;
    }
}

// libplatform.so lies beside this program, so dlopen's own rules would find a
// module there too. A copy of this program in a folder of its own, holding a
// module that exists nowhere else, tells the two searches apart.
TEST_F(ModuleTest, SearchesTheExecutablesFolderFirst) {
    if (const char* expected = std::getenv("ORVA_MODTEST_EXPECT")) {
        HMODULE module = LoadLibraryA("modtest_apponly.dll");
        ASSERT_NE(module, nullptr) << orva_platform_last_load_error();
        EXPECT_EQ(fileName(module), expected);
        EXPECT_TRUE(FreeLibrary(module));
        return;
    }
    const fs::path app = fs::path(dir_) / "app";
    fs::create_directory(app);
    const std::string program = (app / "module_test").string();
    const std::string module = (app / "modtest_apponly.so").string();
    fs::copy_file(executablePath(), program);
    fs::copy_file(besideExecutable("modtest_plain.so"), module);

    // The copy finds libplatform.so through LD_LIBRARY_PATH, where
    // modtest_apponly.so is not.
    const std::string bin = fs::path(executablePath()).parent_path().string();
    const char* oldLibraryPath = std::getenv("LD_LIBRARY_PATH");
    const std::string savedLibraryPath = oldLibraryPath ? oldLibraryPath : "";
    setenv("LD_LIBRARY_PATH", bin.c_str(), 1);
    setenv("ORVA_MODTEST_EXPECT", module.c_str(), 1);
    std::string filter = "--gtest_filter=ModuleTest.SearchesTheExecutablesFolderFirst";
    char* argv[] = {const_cast<char*>(program.c_str()), filter.data(), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ);
    unsetenv("ORVA_MODTEST_EXPECT");
    if (oldLibraryPath) {
        setenv("LD_LIBRARY_PATH", savedLibraryPath.c_str(), 1);
    } else {
        unsetenv("LD_LIBRARY_PATH");
    }
    ASSERT_EQ(spawned, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(ModuleTest, NeverSearchesTheCurrentFolder) {
    const std::string copy = (fs::path(dir_) / "modtest_cwdonly.so").string();
    fs::copy_file(besideExecutable("modtest_plain.so"), copy);
    fs::current_path(dir_);

    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("modtest_cwdonly.so"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
    EXPECT_EQ(LoadLibraryA("modtest_cwdonly.dll"), nullptr);

    // A relative path is a path: loaded from the current folder, reported absolute.
    HMODULE module = LoadLibraryA("./modtest_cwdonly.dll");
    ASSERT_NE(module, nullptr) << orva_platform_last_load_error();
    const std::string absolute = (fs::current_path() / "modtest_cwdonly.so").string();
    EXPECT_EQ(fileName(module), absolute);
    EXPECT_EQ(GetModuleHandleA(absolute.c_str()), module);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(isMapped(absolute));

    // A file that is not a module is not found, and the message names it.
    std::ofstream("bogus.so") << "not a shared object\n";
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("./bogus.so"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
    EXPECT_NE(std::string(orva_platform_last_load_error()).find("bogus.so"), std::string::npos);
}

TEST_F(ModuleTest, CountsReferencesAndDetachesOnLastFree) {
    const std::string path = besideExecutable("modtest_events.so");
    const Events attached = {"events attach", "events self " + path};

    HMODULE first = LoadLibraryA("modtest_events.so");
    ASSERT_NE(first, nullptr) << orva_platform_last_load_error();
    HMODULE second = LoadLibraryA(path.c_str());
    EXPECT_EQ(second, first);
    EXPECT_EQ(events(), attached);  // attached once

    // GetModuleHandleA takes no reference: one free per load is still due.
    EXPECT_EQ(GetModuleHandleA("modtest_events.so"), first);

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(events(), attached);
    EXPECT_TRUE(isMapped(path));

    EXPECT_TRUE(FreeLibrary(second));
    Events detached = attached;
    detached.push_back("events detach");
    EXPECT_EQ(events(), detached);
    EXPECT_FALSE(isMapped(path));

    // A new load is a new first load.
    clearEvents();
    HMODULE again = LoadLibraryA("modtest_events.so");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(events(), attached);
    EXPECT_TRUE(FreeLibrary(again));
}

TEST_F(ModuleTest, RefusedAttachFailsTheLoadAndUnloads) {
    const std::string path = besideExecutable("modtest_refuse.so");
    for (int round = 0; round < 2; ++round) {
        clearEvents();
        SetLastError(0);
        EXPECT_EQ(LoadLibraryA("modtest_refuse.dll"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_DLL_INIT_FAILED});
        EXPECT_EQ(events(), (Events{"refuse attach", "refuse detach"})) << round;
        EXPECT_FALSE(isMapped(path));
        EXPECT_EQ(GetModuleHandleA("modtest_refuse.so"), nullptr);
    }
}

TEST_F(ModuleTest, FindsOnlyTheModulesOwnExports) {
    const std::string base = besideExecutable("modtest_base.so");
    HMODULE dep = LoadLibraryA("modtest_dep.so");
    ASSERT_NE(dep, nullptr) << orva_platform_last_load_error();
    EXPECT_TRUE(isMapped(base));

    // The dependency's DllMain is neither taken for the module's nor run.
    EXPECT_EQ(events(), Events{});
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(dep, "DllMain"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
    EXPECT_EQ(GetProcAddress(dep, "modtest_base_value"), nullptr);
    EXPECT_EQ(GetProcAddress(dep, "missing_function"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});

    auto value = procAs<int (*)()>(dep, "modtest_dep_value");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value(), 8);

    // Loaded on its own, the dependency exports it.
    HMODULE baseModule = LoadLibraryA(base.c_str());
    ASSERT_NE(baseModule, nullptr);
    EXPECT_NE(GetProcAddress(baseModule, "modtest_base_value"), nullptr);
    EXPECT_TRUE(FreeLibrary(baseModule));

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(dep, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(dep, reinterpret_cast<LPCSTR>(std::uintptr_t{1})), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});

    EXPECT_TRUE(FreeLibrary(dep));
    EXPECT_FALSE(isMapped(besideExecutable("modtest_dep.so")));
    EXPECT_FALSE(isMapped(base));
}

TEST_F(ModuleTest, FileNameTruncatesAsWindowsDoes) {
    HMODULE module = LoadLibraryA("modtest_plain.so");
    ASSERT_NE(module, nullptr);
    const std::string path = besideExecutable("modtest_plain.so");
    const DWORD length = static_cast<DWORD>(path.size());

    // Large enough: the length without the NUL, and ERROR_SUCCESS.
    std::vector<char> buffer(path.size() + 8, '#');
    SetLastError(ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetModuleFileNameA(module, buffer.data(), length + 1), length);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(std::string(buffer.data()), path);
    EXPECT_EQ(buffer[length + 1], '#');

    // Too small by any amount: n-1 characters, a NUL, n returned, nothing written past n.
    for (DWORD size : {length, length - 1, DWORD{2}, DWORD{1}}) {
        std::fill(buffer.begin(), buffer.end(), '#');
        SetLastError(0);
        EXPECT_EQ(GetModuleFileNameA(module, buffer.data(), size), size);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER}) << size;
        EXPECT_EQ(std::string(buffer.data()), path.substr(0, size - 1));
        EXPECT_EQ(buffer[size], '#') << size;
    }

    std::fill(buffer.begin(), buffer.end(), '#');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(module, buffer.data(), 0), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(buffer[0], '#');

    EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModuleTest, ModuleFolderNeverComesFromACutPath) {
    HMODULE module = LoadLibraryA("modtest_plain.so");
    ASSERT_NE(module, nullptr);
    const std::string path = besideExecutable("modtest_plain.so");
    const DWORD length = static_cast<DWORD>(path.size());
    using Outcome = orva::ModuleFolder::Outcome;
    struct Case {
        DWORD room;
        Outcome outcome;
        std::string folder;
    };
    const Case cases[] = {
        {length + 1, Outcome::found, path.substr(0, path.rfind('/') + 1)},
        {length, Outcome::tooLong, ""},
        {1, Outcome::tooLong, ""},
        {0, Outcome::unknown, ""},
    };
    for (const Case& c : cases) {
        const orva::ModuleFolder found = orva::moduleFolder(module, c.room);
        EXPECT_EQ(found.outcome, c.outcome) << c.room;
        EXPECT_EQ(found.folder, c.folder) << c.room;
    }
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(orva::moduleFolder(module, 4096).outcome, Outcome::unknown);
}

TEST_F(ModuleTest, ExecutableHandle) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(fileName(self), executablePath());
    EXPECT_EQ(fileName(nullptr), executablePath());
    EXPECT_EQ(GetModuleHandleA(fs::path(executablePath()).filename().c_str()), self);

    // Freeing it changes nothing; its lookups search the whole global scope.
    EXPECT_TRUE(FreeLibrary(self));
    EXPECT_EQ(GetModuleHandleA(nullptr), self);
    EXPECT_EQ(GetProcAddress(self, "LoadLibraryA"), reinterpret_cast<FARPROC>(&LoadLibraryA));
    EXPECT_EQ(GetProcAddress(self, "no_such_symbol_anywhere"), nullptr);
}

TEST_F(ModuleTest, DllMainLoadsAndFreesAnotherModule) {
    const std::string inner = besideExecutable("modtest_events.so");
    HMODULE outer = LoadLibraryA("modtest_outer.so");
    ASSERT_NE(outer, nullptr) << orva_platform_last_load_error();
    EXPECT_EQ(events(),
              (Events{"outer attach", "events attach", "events self " + inner, "outer loaded ok"}));
    EXPECT_TRUE(isMapped(inner));

    clearEvents();
    EXPECT_TRUE(FreeLibrary(outer));
    EXPECT_EQ(events(), (Events{"outer detach", "events detach", "outer freed ok"}));
    EXPECT_FALSE(isMapped(inner));
    EXPECT_FALSE(isMapped(besideExecutable("modtest_outer.so")));
}

TEST_F(ModuleTest, LoadOfAModuleStillAttachingIsACycle) {
    const std::string path = besideExecutable("modtest_cycle.so");
    HMODULE module = LoadLibraryA("modtest_cycle.so");
    ASSERT_NE(module, nullptr) << orva_platform_last_load_error();
    EXPECT_EQ(events(), (Events{"cycle attach", "cycle reload same", "cycle free ok",
                                "cycle free-own refused"}));

    // The nested load and free balanced: one free unloads.
    clearEvents();
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(events(), Events{"cycle detach"});
    EXPECT_FALSE(isMapped(path));
}

TEST_F(ModuleTest, UnknownHandlesAreRejected) {
    HMODULE freed = LoadLibraryA("modtest_plain.so");
    ASSERT_NE(freed, nullptr);
    ASSERT_TRUE(FreeLibrary(freed));
    int local = 0;
    const HMODULE unknown[] = {freed, reinterpret_cast<HMODULE>(&local),
                               reinterpret_cast<HMODULE>(std::uintptr_t{0x10})};
    for (HMODULE handle : unknown) {
        SetLastError(0);
        EXPECT_FALSE(FreeLibrary(handle));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});

        SetLastError(0);
        EXPECT_EQ(GetProcAddress(handle, "modtest_plain_value"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});

        char buffer[16] = "unchanged";
        SetLastError(0);
        EXPECT_EQ(GetModuleFileNameA(handle, buffer, sizeof buffer), 0u);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
        EXPECT_STREQ(buffer, "unchanged");
    }
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

// Exit destroys the thread's own objects before it runs the handlers, which
// may still load and free modules (a program's global owner, a plug-in's
// exit-time unload); a failed load's reason must still be kept and read.
TEST(ModuleExit, ALoadFromAnExitHandlerStillReportsWhyItFailed) {
    EXPECT_EXIT(
        {
            EXPECT_EQ(LoadLibraryA("/nonexistent/folder/first-missing-module.so"), nullptr);
            std::atexit([] {
                const bool failed =
                    LoadLibraryA("/nonexistent/folder/second-missing-module.so") == nullptr;
                const std::string reason = orva_platform_last_load_error();
                std::_Exit(failed && reason.find("second-missing") != std::string::npos ? 0 : 1);
            });
            std::exit(2);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
