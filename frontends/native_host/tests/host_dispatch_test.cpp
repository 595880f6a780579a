// DispatchCommand over real pipes: parsing, the binding step, matching names
// and the reply's form.

#include <string>

#include "host_test_support.h"

namespace orva::native_host::test {
namespace {

using HostDispatchTest = FakeApiHostTest;

TEST_F(HostDispatchTest, RepliesAreUnformattedWithCmdTypeFirst) {
    EXPECT_EQ(host().request(R"({ "xmlMsg" : 1, "CmdType" : "GetVersion" })"),
              R"({"CmdType":"GetVersion","Resp":"1.0.0.0"})");
}

TEST_F(HostDispatchTest, KeysIgnoreCaseButCommandNamesDoNot) {
    EXPECT_EQ(host().request(R"({"cmdtype":"GetVersion"})"),
              R"({"CmdType":"GetVersion","Resp":"1.0.0.0"})");
    EXPECT_EQ(host().request(R"({"CmdType":"getversion"})"),
              R"({"CmdType":"getversion","Resp":""})");
    // The first of two matching keys wins.
    EXPECT_EQ(host().request(R"({"CMDTYPE":"GetVersion","CmdType":"GetMediaID"})"),
              R"({"CmdType":"GetVersion","Resp":"1.0.0.0"})");
}

TEST_F(HostDispatchTest, AnUnknownNameAnswersAnEmptyResultWithItsNameEscaped) {
    EXPECT_EQ(host().request(R"({"CmdType":"No \"such\"\tthing"})"),
              R"({"CmdType":"No \"such\"\tthing","Resp":""})");
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(HostDispatchTest, NoLibraryAnswers101ForEveryNameAndBindsAtTheNextRequest) {
    folder_.write("registry.reg", "REGEDIT4\n");
    for (const char* name : {"GetVersion", "GetDataPackage", "Unknown", "GetMediaID"}) {
        EXPECT_EQ(host().request(request(name)),
                  R"({"CmdType":")" + std::string(name) + R"(","Resp":"-101"})");
    }
    // Requests without a command never try to bind.
    EXPECT_EQ(host().request("{}"), "");
    folder_.write("registry.reg", providerRegistry(fakeApiFolder()));
    EXPECT_EQ(resp("GetVersion"), "1.0.0.0");
    EXPECT_EQ(resp("GetMediaID"), "GetDevSN");
    // Bound for good: the registry is not read again.
    folder_.write("registry.reg", "REGEDIT4\n");
    EXPECT_EQ(resp("GetMediaID"), "GetDevSN");
}

TEST_F(HostDispatchTest, ALibraryLackingOneNameIsNotBound) {
    folder_.write("registry.reg", providerRegistry(fakeApiLackingFolder()));
    EXPECT_EQ(resp("GetVersion"), "-101");
    EXPECT_EQ(resp("GetVersion"), "-101");
    folder_.write("registry.reg", providerRegistry(fakeApiFolder()));
    EXPECT_EQ(resp("GetVersion"), "1.0.0.0");
}

TEST_F(HostDispatchTest, TheHostReadsTheProviderKeyInThe32BitView) {
    folder_.write("registry.reg", providerRegistry(fakeApiFolder(), false));
    EXPECT_EQ(resp("GetVersion"), "-101");
}

TEST_F(HostDispatchTest, AnImagePathWithoutAFolderOrTooLongFailsTheBinding) {
    folder_.write("registry.reg", "REGEDIT4\n\n" + frontend::test::providerSection(true) +
                                      "\"Image Path\"=\"qzcore3.so\"\n");
    EXPECT_EQ(resp("GetVersion"), "-101");
    // 260 characters: never cut to another folder.
    folder_.write("registry.reg", "REGEDIT4\n\n" + frontend::test::providerSection(true) +
                                      "\"Image Path\"=\"/" + std::string(250, 'a') +
                                      "/qzcore3\"\n");
    EXPECT_EQ(resp("GetVersion"), "-101");
}

TEST_F(HostDispatchTest, AFolderOfExactly247CharactersStillLoads) {
    // folder (247) + "ORVA_API.dll" (12) = 259, the most a path holds.
    fs::path folder = folder_.root();
    ASSERT_LT(folder.string().size() + 120, 247u);
    // Components of 50 while much is left, then one that fills it up.
    for (std::size_t left = 247 - (folder.string().size() + 1); left > 0;) {
        const std::size_t part = left > 101 ? 50 : left - 1;
        folder /= std::string(part, 'p');
        left -= part + 1;
    }
    ASSERT_EQ(folder.string().size() + 1, 247u);
    fs::create_directories(folder);
    fs::create_symlink(fakeApiFolder() / "ORVA_API.so", folder / "ORVA_API.so");
    folder_.write("registry.reg", providerRegistry(folder));
    EXPECT_EQ(resp("GetMediaID"), "GetDevSN");
}

TEST_F(HostDispatchTest, WithoutAnImagePathTheLibraryBesideTheHostIsLoaded) {
    folder_.write("registry.reg",
                  "REGEDIT4\n\n" + frontend::test::providerSection(true) + "\"Other\"=\"x\"\n");
    // The build's own ORVA_API, over an empty store of keys: no key is present.
    EXPECT_EQ(resp("GetVersion"), "1.0.0.0");
    EXPECT_EQ(resp("GetMediaID"), "-102");
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(HostDispatchTest, ResultCodesKeepTheirSign) {
    script(R"({"GetDevSN":{"code":-303},"GetCSPInfo":{"code":-300}})");
    EXPECT_EQ(resp("GetMediaID"), "-303");
    EXPECT_EQ(resp("GetCSPInfo"), "-300");
}

}  // namespace
}  // namespace orva::native_host::test
