// Locating and binding the token API library through the provider registration.

#include "api_binding.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "frontend_test_support.h"

namespace orva::frontend {
namespace {

using test::fakeApiFolder;
using test::fakeApiLackingFolder;
using test::providerRegistry;
using test::providerSection;
using test::regString;
using test::TestFolder;

class ApiBindingTest : public ::testing::Test {
  protected:
    ApiBindingTest() {
        folder_.setEnv("ORVA_REGISTRY", (folder_.root() / "registry.reg").string());
    }

    void setRegistry(const std::string& text) { folder_.write("registry.reg", text); }
    // The provider key (32-bit view) with one "Image Path" line as given.
    void setImagePathLine(const std::string& line) {
        setRegistry("REGEDIT4\n\n" + providerSection(true) + line + "\n");
    }

    // locateApiFolder into a 260-byte buffer: the answer and the text.
    std::pair<int, std::string> locate(REGSAM view = KEY_WOW64_32KEY) {
        std::array<char, kPathRoom> buffer{};
        const int result = locateApiFolder(buffer.data(), buffer.size(), view);
        // A failed call may leave the buffer unterminated.
        return {result, std::string(buffer.data(), strnlen(buffer.data(), buffer.size()))};
    }

    TestFolder folder_;
};

TEST_F(ApiBindingTest, LocateTakesTheFolderOfTheImagePath) {
    setImagePathLine("\"Image Path\"=\"/opt/orva/bin/qzcore3.so\"");
    EXPECT_EQ(locate(), std::make_pair(1, std::string("/opt/orva/bin/")));
}

TEST_F(ApiBindingTest, LocateFailsWithoutTheKeyOrWithoutAFolder) {
    EXPECT_EQ(locate().first, 0);  // no registry file at all
    setRegistry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n");
    EXPECT_EQ(locate().first, 0);
    setImagePathLine("\"Image Path\"=\"qzcore3.so\"");
    EXPECT_EQ(locate().first, 0);
    setImagePathLine("\"Image Path\"=\"\"");
    EXPECT_EQ(locate().first, 0);
}

TEST_F(ApiBindingTest, LocateAnswersTheEmptyFolderWhenTheValueIsMissing) {
    setImagePathLine("\"Other\"=\"/x/y\"");
    EXPECT_EQ(locate(), std::make_pair(1, std::string()));
}

TEST_F(ApiBindingTest, LocateReadsTheViewItIsGiven) {
    setRegistry(providerRegistry("/native/bin", false));
    EXPECT_EQ(locate(KEY_WOW64_32KEY).first, 0);
    EXPECT_EQ(locate(0), std::make_pair(1, std::string("/native/bin/")));
    setRegistry(providerRegistry("/wow/bin", true));
    EXPECT_EQ(locate(KEY_WOW64_32KEY), std::make_pair(1, std::string("/wow/bin/")));
}

TEST_F(ApiBindingTest, LocateTakesTheValueBytesWhateverItsType) {
    // "/a/b" with no NUL, as binary data.
    setImagePathLine("\"Image Path\"=hex:2f,61,2f,62");
    EXPECT_EQ(locate(), std::make_pair(1, std::string("/a/")));
    // The text ends at its first NUL.
    setImagePathLine("\"Image Path\"=hex:2f,61,2f,00,62,2f,63");
    EXPECT_EQ(locate(), std::make_pair(1, std::string("/a/")));
}

TEST_F(ApiBindingTest, LocateRefusesAValueThatDoesNotFitWithItsNul) {
    // 259 characters and the NUL fill the buffer exactly.
    const std::string fits = "/" + std::string(257, 'f') + "/";
    setImagePathLine("\"Image Path\"=" + regString(fits));
    EXPECT_EQ(locate(), std::make_pair(1, fits));
    // 260 characters: the read cannot take it; a cut path is never used.
    setImagePathLine("\"Image Path\"=" + regString("/" + std::string(258, 'f') + "/"));
    EXPECT_EQ(locate().first, 0);
    // 260 bytes of binary data without a NUL leave no room to end the text.
    std::string hex = "2f";
    for (int i = 1; i < 260; ++i) {
        hex += ",2f";
    }
    setImagePathLine("\"Image Path\"=hex:" + hex);
    EXPECT_EQ(locate().first, 0);
}

TEST_F(ApiBindingTest, LoadBindsAll40NamesInOrder) {
    ApiBinding binding(KEY_WOW64_32KEY);
    const std::string folder = fakeApiFolder().string() + "/";
    ASSERT_EQ(binding.loadApiLibrary(nullptr, folder.c_str()), 1);
    EXPECT_NE(binding.library(), nullptr);
    const ApiFunctionTable& table = binding.functions();
    EXPECT_NE(table.GetDevSN, nullptr);
    EXPECT_NE(table.GMUsbKeySign, nullptr);
    EXPECT_NE(table.GetCertType, nullptr);
    EXPECT_EQ(reinterpret_cast<FARPROC>(table.ChooseFile),
              GetProcAddress(binding.library(), kApiFunctionNames[32]));
    binding.unloadApiLibrary();
    EXPECT_EQ(binding.library(), nullptr);
}

TEST_F(ApiBindingTest, TheRealLibraryHasEveryName) {
    ApiBinding binding(KEY_WOW64_32KEY);
    const std::string folder = test::binFolder().string() + "/";
    ASSERT_EQ(binding.loadApiLibrary(nullptr, folder.c_str()), 1)
        << orva_platform_last_load_error();
    binding.unloadApiLibrary();
}

TEST_F(ApiBindingTest, AMissingLastNameFailsAfterTheOthersResolved) {
    ApiBinding binding(KEY_WOW64_32KEY);
    const std::string folder = fakeApiLackingFolder().string() + "/";
    EXPECT_EQ(binding.loadApiLibrary(nullptr, folder.c_str()), 0);
    // The library stays loaded; the 39 slots before the missing one are set.
    EXPECT_NE(binding.library(), nullptr);
    EXPECT_NE(binding.functions().UnRegisterCert, nullptr);
    EXPECT_EQ(binding.functions().GetCertType, nullptr);
    binding.unloadApiLibrary();
}

TEST_F(ApiBindingTest, AnOverlongLibraryPathLoadsNothing) {
    ApiBinding binding(KEY_WOW64_32KEY);
    // 248 characters + "ORVA_API.dll" = 260: no room for the NUL.
    const std::string folder = "/" + std::string(246, 'd') + "/";
    EXPECT_EQ(binding.loadApiLibrary(nullptr, folder.c_str()), 0);
    EXPECT_EQ(binding.library(), nullptr);
}

TEST_F(ApiBindingTest, AModuleLoadsTheLibraryBesideIt) {
    const std::string path = (fakeApiFolder() / "ORVA_API.so").string();
    HMODULE fake = LoadLibraryA(path.c_str());
    ASSERT_NE(fake, nullptr);
    ApiBinding binding(KEY_WOW64_32KEY);
    EXPECT_EQ(binding.loadApiLibrary(fake, nullptr), 1);
    EXPECT_EQ(binding.library(), fake);
    binding.unloadApiLibrary();
    FreeLibrary(fake);
}

TEST_F(ApiBindingTest, EnsureRetriesUntilTheBindingStandsAndThenStops) {
    ApiBinding binding(KEY_WOW64_32KEY);
    EXPECT_FALSE(binding.ensureApiLoaded());
    setRegistry(providerRegistry(fakeApiLackingFolder()));
    EXPECT_FALSE(binding.ensureApiLoaded());
    EXPECT_FALSE(binding.bound());
    setRegistry(providerRegistry(fakeApiFolder()));
    EXPECT_TRUE(binding.ensureApiLoaded());
    EXPECT_TRUE(binding.bound());
    // Bound: the registry is not read again.
    setRegistry("REGEDIT4\n");
    EXPECT_TRUE(binding.ensureApiLoaded());
}

TEST_F(ApiBindingTest, AnEmptyFolderLoadsTheBareNameFromTheProgramsFolder) {
    setImagePathLine("\"Other\"=\"x\"");
    ApiBinding binding(KEY_WOW64_32KEY);
    ASSERT_TRUE(binding.ensureApiLoaded()) << orva_platform_last_load_error();
    char path[kPathRoom] = {};
    ASSERT_GT(GetModuleFileNameA(binding.library(), path, sizeof path), 0u);
    EXPECT_EQ(test::fs::path(path).parent_path(), test::fs::canonical(test::binFolder()));
    binding.unloadApiLibrary();
}

}  // namespace
}  // namespace orva::frontend
