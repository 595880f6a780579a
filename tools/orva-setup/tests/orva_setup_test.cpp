// orva-setup run as a user runs it: the registry it writes is the one the
// front ends and the token API library read, and the manifest is Chromium's.

#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "api_binding.h"
#include "orva/testing/support.h"
#include "win32/registry.h"

namespace {

namespace fs = std::filesystem;

using orva::testing::CommandResult;
using orva::testing::readText;

std::string quoted(const std::string& text) {
    return orva::testing::shellQuote(text);
}

class OrvaSetupTest : public ::testing::Test {
  protected:
    OrvaSetupTest() { ::setenv("ORVA_REGISTRY", (root_ / "registry.reg").c_str(), 1); }
    ~OrvaSetupTest() override { ::unsetenv("ORVA_REGISTRY"); }

    // orva-setup with the test's registry and a HOME of its own.
    CommandResult setup(const std::string& arguments) {
        return orva::testing::runCommand("HOME=" + quoted(root_.string()) + " " +
                                         quoted(ORVA_SETUP_PROGRAM) + " " + arguments);
    }

    orva::testing::TempDir dir_{"orva_setup"};
    const fs::path root_ = dir_.path();
};

std::string readValue(const std::string& key, const char* name, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &opened) != 0) {
        return "<no key>";
    }
    std::array<char, 512> data{};
    DWORD size = data.size() - 1;
    const LSTATUS status = RegQueryValueExA(opened, name, nullptr, nullptr,
                                            reinterpret_cast<LPBYTE>(data.data()), &size);
    RegCloseKey(opened);
    return status == 0 ? std::string(data.data()) : "<no value>";
}

const std::string kProvider =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Korvane CSP ORVA V1.0";
const std::string kUninstall =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane CSP ORVA V1.0";

TEST_F(OrvaSetupTest, RegisterWritesBothViewsAndTheVersion) {
    const CommandResult result = setup("register --dir /opt/orva/bin --version 1.2.3.4");
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(readValue(kProvider, "Image Path", 0), "/opt/orva/bin/qzcore3.so");
    EXPECT_EQ(readValue(kProvider, "Image Path", KEY_WOW64_32KEY), "/opt/orva/bin/qzcore3.so");
    EXPECT_EQ(readValue(kUninstall, "DisplayVersion", 0), "1.2.3.4");
    // The front ends find the folder in either view.
    std::array<char, 260> folder{};
    EXPECT_EQ(orva::frontend::locateApiFolder(folder.data(), folder.size(), KEY_WOW64_32KEY), 1);
    EXPECT_STREQ(folder.data(), "/opt/orva/bin/");
}

TEST_F(OrvaSetupTest, RegisterDefaultsToItsOwnFolderAndUnregisterRemovesAll) {
    ASSERT_EQ(setup("register").status, 0);
    const fs::path bin = fs::path(ORVA_SETUP_PROGRAM).parent_path();
    EXPECT_EQ(readValue(kProvider, "Image Path", 0), (bin / "qzcore3.so").string());
    EXPECT_EQ(readValue(kUninstall, "DisplayVersion", 0), "1.0.0.0");
    ASSERT_EQ(setup("unregister").status, 0);
    EXPECT_EQ(readValue(kProvider, "Image Path", 0), "<no key>");
    EXPECT_EQ(readValue(kProvider, "Image Path", KEY_WOW64_32KEY), "<no key>");
    EXPECT_EQ(readValue(kUninstall, "DisplayVersion", 0), "<no key>");
    // Nothing left to remove is no failure.
    EXPECT_EQ(setup("unregister").status, 0);
}

TEST_F(OrvaSetupTest, RegisterRefusesAFolderTheFrontEndsCouldNotUse) {
    EXPECT_EQ(setup("register --dir relative/bin").status, 0);  // made absolute
    EXPECT_EQ(setup("register --dir /" + std::string(260, 'x')).status, 1);
    EXPECT_EQ(setup("register --bogus").status, 2);
    EXPECT_EQ(setup("frobnicate").status, 2);
}

TEST_F(OrvaSetupTest, ManifestUnderAUserDataDir) {
    const CommandResult result =
        setup("manifest --user-data-dir " + quoted((root_ / "profile").string()) +
              " --extension-id abcdefghijklmnopabcdefghijklmnop" +
              " --extension-id=gncnioanaacfgebcodcofjjihohdaphn");
    ASSERT_EQ(result.status, 0) << result.output;
    const fs::path file = root_ / "profile/NativeMessagingHosts/orva_xr_usbkey_extension.json";
    EXPECT_EQ(result.output, file.string() + "\n");
    const std::string text = readText(file);
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(cJSON_Parse(text.c_str()), cJSON_Delete);
    ASSERT_TRUE(json) << text;
    EXPECT_STREQ(cJSON_GetObjectItem(json.get(), "name")->valuestring, "orva_xr_usbkey_extension");
    EXPECT_STREQ(cJSON_GetObjectItem(json.get(), "type")->valuestring, "stdio");
    EXPECT_EQ(fs::path(cJSON_GetObjectItem(json.get(), "path")->valuestring),
              fs::path(ORVA_HOST_PROGRAM));
    const cJSON* origins = cJSON_GetObjectItem(json.get(), "allowed_origins");
    ASSERT_EQ(cJSON_GetArraySize(origins), 2);
    EXPECT_STREQ(cJSON_GetArrayItem(origins, 0)->valuestring,
                 "chrome-extension://abcdefghijklmnopabcdefghijklmnop/");
    EXPECT_EQ(
        setup("remove-manifest --user-data-dir " + quoted((root_ / "profile").string())).status, 0);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(OrvaSetupTest, ManifestPlacesAndChecks) {
    ASSERT_EQ(setup("manifest --user").status, 0);
    EXPECT_TRUE(
        fs::exists(root_ / ".config/chromium/NativeMessagingHosts/orva_xr_usbkey_extension.json"));
    ASSERT_EQ(setup("manifest --user --browser chrome").status, 0);
    EXPECT_TRUE(fs::exists(
        root_ / ".config/google-chrome/NativeMessagingHosts/orva_xr_usbkey_extension.json"));
    EXPECT_EQ(setup("manifest --user --user-data-dir x").status, 2);
    EXPECT_EQ(setup("manifest").status, 2);
    EXPECT_EQ(setup("manifest --user --extension-id ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP").status, 1);
    EXPECT_EQ(setup("manifest --user --extension-id abcq").status, 1);
    EXPECT_EQ(setup("manifest --user --host /etc/passwd").status, 1);
    EXPECT_EQ(setup("manifest --user --host relative").status, 1);
}

// The id Chromium gives an extension with a "key": the first 32 hex digits of
// SHA-256 over the key's DER, written with the letters a to p.
std::string extensionIdOf(const std::string& base64Key) {
    std::string der(base64Key.size(), '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(der.data()),
                                       reinterpret_cast<const unsigned char*>(base64Key.data()),
                                       static_cast<int>(base64Key.size()));
    if (length < 0) {
        return {};
    }
    std::size_t padding = 0;
    for (auto it = base64Key.rbegin(); it != base64Key.rend() && *it == '='; ++it) {
        ++padding;
    }
    der.resize(static_cast<std::size_t>(length) - padding);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    EVP_Digest(der.data(), der.size(), digest.data(), &size, EVP_sha256(), nullptr);
    std::string id;
    for (int i = 0; i < 16; ++i) {
        id += static_cast<char>('a' + (digest[i] >> 4));
        id += static_cast<char>('a' + (digest[i] & 15));
    }
    return id;
}

TEST_F(OrvaSetupTest, TheDefaultIdIsTheBundledExtensions) {
    const std::string text = readText(ORVA_EXTENSION_MANIFEST);
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(cJSON_Parse(text.c_str()), cJSON_Delete);
    ASSERT_TRUE(json);
    const cJSON* key = cJSON_GetObjectItem(json.get(), "key");
    ASSERT_TRUE(cJSON_IsString(key));
    const std::string id = extensionIdOf(key->valuestring);
    ASSERT_EQ(setup("manifest --output " + quoted((root_ / "m.json").string())).status, 0);
    EXPECT_NE(readText(root_ / "m.json").find("chrome-extension://" + id + "/"), std::string::npos)
        << id;
}

}  // namespace
