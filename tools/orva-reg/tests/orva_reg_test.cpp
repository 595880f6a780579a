// orva-reg end to end: the built program on a registry file of each test's
// own, checked through its output and through the Reg* functions.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "orva/testing/support.h"
#include "win32/errors.h"
#include "win32/registry.h"

namespace {

using orva::testing::readText;
using orva::testing::TempDir;
using orva::testing::writeFile;
using Result = orva::testing::ProgramResult;

class OrvaRegTest : public ::testing::Test {
  protected:
    void SetUp() override {
        registry_ = dir_.file("registry.reg");
        ::setenv("ORVA_REGISTRY", registry_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("ORVA_REGISTRY"); }

    // Runs the built orva-reg with stdout and stderr kept apart.
    Result run(const std::vector<std::string>& args) const {
        return orva::testing::runProgram(ORVA_REG_PROGRAM, args);
    }
    void runOk(const std::vector<std::string>& args) const {
        const Result result = run(args);
        ASSERT_EQ(result.exit, 0) << result.err;
    }

    static bool hasKey(HKEY root, const char* subkey) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    TempDir dir_{"orva-reg-tool"};
    std::string registry_;
};

TEST_F(OrvaRegTest, HelpAndUsageErrors) {
    Result help = run({"--help"});
    EXPECT_EQ(help.exit, 0);
    for (const char* usage :
         {"query KEY", "add KEY", "delete KEY", "import FILE", "export KEY FILE"}) {
        EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
    }
    EXPECT_EQ(run({"add", "/?"}).exit, 0);

    struct Bad {
        std::vector<std::string> args;
        const char* message;
    };
    const Bad bad[] = {
        {{}, "missing COMMAND"},
        {{"frobnicate"}, "unknown command"},
        {{"query"}, "missing KEY"},
        {{"query", "HKXX\\A"}, "invalid key name"},
        {{"query", "HKLM", "extra"}, "unexpected argument"},
        {{"query", "HKLM", "/t", "REG_SZ"}, "does not take /t"},
        {{"query", "HKLM", "-q"}, "invalid switch"},
        {{"add", "HKLM\\A", "/v", "x", "/ve"}, "exclude each other"},
        {{"add", "HKLM\\A", "/v"}, "needs a value"},
        {{"add", "HKLM\\A", "/d", "x"}, "need /v NAME or /ve"},
        {{"add", "HKLM\\A", "/f", "/f"}, "twice"},
        {{"--registry"}, "needs a FILE"},
        {{"--bogus", "query", "HKLM"}, "unknown option"},
    };
    for (const Bad& b : bad) {
        const Result result = run(b.args);
        EXPECT_EQ(result.exit, 1) << b.message;
        EXPECT_NE(result.err.find(b.message), std::string::npos) << result.err;
        EXPECT_TRUE(result.err.starts_with("orva-reg: ")) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(registry_));
}

TEST_F(OrvaRegTest, AddAndQueryEachType) {
    runOk({"add", "HKLM\\SOFTWARE\\Tool", "/ve", "/d", "dflt"});
    runOk({"add", "hklm\\software\\tool", "/v", "Text", "/d", "hello \"world\""});
    runOk({"add", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tool", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d",
           "%HOME%\\x"});
    runOk({"add", "HKLM\\SOFTWARE\\Tool", "/v", "Dec", "/t", "REG_DWORD", "/d", "4294967295"});
    runOk({"add", "HKLM\\SOFTWARE\\Tool", "/v", "Hex", "/t", "reg_dword", "/d", "0x1F"});
    runOk({"add", "HKLM\\SOFTWARE\\Tool", "/v", "Zero", "/t", "REG_DWORD"});
    runOk({"add", "HKLM\\SOFTWARE\\Tool", "/v", "Bin", "/t", "REG_BINARY", "/d", "00ff10", "/f"});
    runOk({"add", "HKLM\\SOFTWARE\\Tool\\Sub\\Deeper"});

    const Result query = run({"query", "HKLM\\SOFTWARE\\Tool"});
    ASSERT_EQ(query.exit, 0) << query.err;
    EXPECT_EQ(query.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tool\n"
              "    (Default)    REG_SZ    dflt\n"
              "    Text    REG_SZ    hello \"world\"\n"
              "    Path    REG_EXPAND_SZ    %HOME%\\x\n"
              "    Dec    REG_DWORD    0xffffffff\n"
              "    Hex    REG_DWORD    0x1f\n"
              "    Zero    REG_DWORD    0x0\n"
              "    Bin    REG_BINARY    00FF10\n"
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tool\\Sub\n\n");

    const Result one = run({"query", "HKLM\\SOFTWARE\\Tool", "/v", "TEXT"});
    ASSERT_EQ(one.exit, 0) << one.err;
    EXPECT_EQ(one.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tool\n    Text    REG_SZ    hello \"world\"\n\n");

    // The Reg* functions see what the tool wrote, with the terminator.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tool", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char text[32];
    DWORD size = sizeof text;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(std::string(text, size), std::string("%HOME%\\x\0", 9));
    RegCloseKey(key);

    // Recursive queries, and a value searched for below a key.
    runOk({"add", "HKLM\\SOFTWARE\\Tool\\Sub", "/v", "Text", "/d", "inner"});
    const Result tree = run({"query", "HKLM\\SOFTWARE\\Tool\\Sub", "/s"});
    ASSERT_EQ(tree.exit, 0) << tree.err;
    EXPECT_EQ(tree.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tool\\Sub\n    Text    REG_SZ    inner\n"
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tool\\Sub\\Deeper\n\n");
    const Result search = run({"query", "HKLM\\SOFTWARE\\Tool", "/v", "Text", "/s"});
    ASSERT_EQ(search.exit, 0) << search.err;
    EXPECT_NE(search.out.find("End of search: 2 match(es) found."), std::string::npos)
        << search.out;

    const Result missing = run({"query", "HKLM\\SOFTWARE\\Tool", "/v", "Nope"});
    EXPECT_EQ(missing.exit, 1);
    EXPECT_NE(missing.err.find("unable to find"), std::string::npos);
    EXPECT_EQ(run({"query", "HKLM\\SOFTWARE\\Nope"}).exit, 1);
}

TEST_F(OrvaRegTest, BadDataIsRefusedBeforeAnythingIsWritten) {
    const std::vector<std::vector<std::string>> bad = {
        {"/t", "REG_DWORD", "/d", "abc"}, {"/t", "REG_DWORD", "/d", "4294967296"},
        {"/t", "REG_DWORD", "/d", "-1"},  {"/t", "REG_DWORD", "/d", "0x"},
        {"/t", "REG_DWORD", "/d", " 7"},  {"/t", "REG_BINARY", "/d", "abc"},
        {"/t", "REG_BINARY", "/d", "zz"}, {"/t", "REG_MULTI_SZ", "/d", "a"},
        {"/t", "REG_FOO", "/d", "a"},
    };
    for (const auto& tail : bad) {
        std::vector<std::string> args{"add", "HKCU\\Bad", "/v", "x"};
        args.insert(args.end(), tail.begin(), tail.end());
        const Result result = run(args);
        EXPECT_EQ(result.exit, 1) << tail[1] << " " << tail.back();
        EXPECT_FALSE(result.err.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(registry_));
}

TEST_F(OrvaRegTest, DeleteValuesAndKeys) {
    runOk({"add", "HKCU\\Del", "/ve", "/d", "d"});
    runOk({"add", "HKCU\\Del", "/v", "a", "/d", "1"});
    runOk({"add", "HKCU\\Del", "/v", "b", "/d", "2"});
    runOk({"add", "HKCU\\Del\\Child\\Grandchild", "/v", "c", "/d", "3"});

    runOk({"delete", "HKCU\\Del", "/v", "A"});
    EXPECT_EQ(run({"query", "HKCU\\Del", "/v", "a"}).exit, 1);
    EXPECT_EQ(run({"delete", "HKCU\\Del", "/v", "a"}).exit, 1) << "already gone";
    runOk({"delete", "HKCU\\Del", "/ve"});
    EXPECT_EQ(run({"query", "HKCU\\Del", "/ve"}).exit, 1);
    runOk({"delete", "HKCU\\Del", "/va", "/f"});
    const Result left = run({"query", "HKCU\\Del"});
    EXPECT_EQ(left.out, "\nHKEY_CURRENT_USER\\Del\n\nHKEY_CURRENT_USER\\Del\\Child\n\n");
    EXPECT_TRUE(hasKey(HKEY_CURRENT_USER, "Del\\Child\\Grandchild")) << "/va keeps subkeys";

    runOk({"delete", "HKCU\\Del"});
    EXPECT_FALSE(hasKey(HKEY_CURRENT_USER, "Del"));
    const Result missing = run({"delete", "HKCU\\Del"});
    EXPECT_EQ(missing.exit, 1);
    EXPECT_NE(missing.err.find("unable to find"), std::string::npos);
    const Result root = run({"delete", "HKCU"});
    EXPECT_EQ(root.exit, 1);
    EXPECT_NE(root.err.find("root key"), std::string::npos);
}

TEST_F(OrvaRegTest, ViewsKeepTheirOwnKeys) {
    runOk({"add", "HKLM\\SOFTWARE\\Both", "/v", "bits", "/d", "64"});
    runOk({"add", "HKLM\\SOFTWARE\\Both", "/v", "bits", "/d", "32", "/reg:32"});
    EXPECT_TRUE(hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Both"));

    const Result native = run({"query", "HKLM\\SOFTWARE\\Both", "/v", "bits", "/reg:64"});
    EXPECT_NE(native.out.find("REG_SZ    64"), std::string::npos) << native.out;
    const Result wow = run({"query", "HKLM\\SOFTWARE\\Both", "/v", "bits", "/reg:32"});
    EXPECT_NE(wow.out.find("REG_SZ    32"), std::string::npos) << wow.out;
    EXPECT_NE(wow.out.find("\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Both\n"), std::string::npos)
        << "keys show as given, not mapped";

    // Deleting in one view leaves the other's key of the same name.
    runOk({"delete", "HKLM\\SOFTWARE\\Both", "/reg:32"});
    EXPECT_FALSE(hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Both"));
    EXPECT_TRUE(hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Both"));

    // HKCR is HKLM\SOFTWARE\Classes.
    runOk({"add", "HKCR\\.orva", "/ve", "/d", "orvafile"});
    EXPECT_TRUE(hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.orva"));
}

TEST_F(OrvaRegTest, ImportAndExport) {
    runOk({"add", "HKLM\\SOFTWARE\\Imp\\Old", "/v", "gone", "/d", "x"});
    runOk({"add", "HKLM\\SOFTWARE\\Imp\\Doomed\\Below"});
    const std::string import = dir_.file("in.reg");
    writeFile(import,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\Doomed]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\Old]\r\n"
              "\"gone\"=-\r\n"
              "\"count\"=dword:00000003\r\n"
              "\"blob\"=hex:de,ad,\\\r\n  be,ef\r\n");
    runOk({"import", import});
    EXPECT_FALSE(hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp\\Doomed"));
    const Result old = run({"query", "HKLM\\SOFTWARE\\Imp\\Old"});
    EXPECT_EQ(old.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\Old\n    count    REG_DWORD    0x3\n"
              "    blob    REG_BINARY    DEADBEEF\n\n");

    // A bad import names its file and line and changes nothing.
    const std::string before = readText(registry_);
    const std::string bad = dir_.file("bad.reg");
    writeFile(bad,
              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\New]\n\"a\"=\"1\"\n\"b\"=hex:1,2,\n");
    const Result refused = run({"import", bad});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_NE(refused.err.find(bad + ":4: hex list ends with a comma"), std::string::npos)
        << refused.err;
    EXPECT_EQ(readText(registry_), before);
    // One that cannot be opened, or read (a folder), imports nothing either.
    std::filesystem::create_directory(dir_.file("folder.reg"));
    for (const auto& [name, reason] : {std::pair{"missing.reg", "No such file or directory"},
                                       std::pair{"folder.reg", "Is a directory"}}) {
        const Result unread = run({"import", dir_.file(name)});
        EXPECT_EQ(unread.exit, 1) << name;
        EXPECT_NE(unread.err.find("cannot read " + dir_.file(name) + ": " + reason),
                  std::string::npos)
            << unread.err;
        EXPECT_EQ(readText(registry_), before) << name;
    }

    // Export, refuse to overwrite without /y, and re-import elsewhere.
    const std::string exported = dir_.file("out.reg");
    runOk({"export", "HKLM\\SOFTWARE\\Imp", exported});
    const std::string text = readText(exported);
    EXPECT_TRUE(text.starts_with("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp]\n")) << text;
    writeFile(exported, "mine");
    const Result exists = run({"export", "HKLM\\SOFTWARE\\Imp", exported});
    EXPECT_EQ(exists.exit, 1);
    EXPECT_NE(exists.err.find("/y"), std::string::npos);
    EXPECT_EQ(readText(exported), "mine");
    runOk({"export", "HKLM\\SOFTWARE\\Imp", exported, "/y"});
    EXPECT_EQ(readText(exported), text);
    EXPECT_EQ(run({"export", "HKLM\\SOFTWARE\\Nope", dir_.file("none.reg")}).exit, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("none.reg")));

    const std::string other = dir_.file("other.reg");
    runOk({"--registry", other, "import", exported});
    const std::string again = dir_.file("again.reg");
    runOk({"--registry=" + other, "export", "HKLM\\SOFTWARE\\Imp", again});
    EXPECT_EQ(readText(again), text);
}

TEST_F(OrvaRegTest, AMalformedRegistryIsNamedWithItsLineAndKept) {
    const std::string broken = "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:xyz\n";
    writeFile(registry_, broken);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"query", "HKCU\\A"},
             {"add", "HKCU\\A", "/v", "w", "/d", "1"},
             {"delete", "HKCU\\A"},
             {"export", "HKCU\\A", dir_.file("out.reg")},
             {"import", registry_},
         }) {
        const Result result = run(args);
        EXPECT_EQ(result.exit, 1) << args[0];
        EXPECT_NE(result.err.find(registry_ + ":4: dword:"), std::string::npos) << result.err;
        EXPECT_EQ(readText(registry_), broken);
    }
}

TEST_F(OrvaRegTest, TheRegistryOptionOverridesTheEnvironment) {
    const std::string chosen = dir_.file("chosen/registry.reg");
    runOk({"--registry", chosen, "add", "HKCU\\Where", "/ve", "/d", "chosen"});
    EXPECT_TRUE(std::filesystem::exists(chosen));
    EXPECT_FALSE(std::filesystem::exists(registry_));
    EXPECT_EQ(run({"query", "HKCU\\Where"}).exit, 1);
    EXPECT_EQ(run({"--registry", chosen, "query", "HKCU\\Where"}).exit, 0);
}

}  // namespace
