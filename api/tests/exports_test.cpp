// The export table of ORVA_API.so: exactly the 40 names (and DllMain, which the
// platform layer calls), each resolvable, and the six names without a function.

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <array>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api_library.h"
#include "orva_api_exports.h"
#include "orva_result_codes.h"

namespace orva::api::test {
namespace {

std::vector<std::string> definedDynamicSymbols(const fs::path& library) {
    const std::string command =
        std::string(ORVA_API_TEST_NM) + " -D --defined-only '" + library.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<std::string> names;
    if (!pipe) {
        return names;
    }
    std::string output;
    std::array<char, 4096> chunk;
    while (const std::size_t n = fread(chunk.data(), 1, chunk.size(), pipe.get())) {
        output.append(chunk.data(), n);
    }
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) {
            names.push_back(name);
        }
    }
    return names;
}

class Exports : public ::testing::Test {
  protected:
    TestEnvironment env_;
    ApiLibrary api_;
};

TEST_F(Exports, TheLibraryShowsTheFortyNamesAndDllMainOnly) {
    std::vector<std::string> found = definedDynamicSymbols(binFolder() / "ORVA_API.so");
    std::vector<std::string> expected(kApiFunctionNames.begin(), kApiFunctionNames.end());
    expected.push_back("DllMain");
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
}

TEST_F(Exports, EveryNameResolvesInTheFrontEndsOrder) {
    ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error();
    for (const char* name : kApiFunctionNames) {
        EXPECT_NE(GetProcAddress(api_.handle(), name), nullptr) << name;
    }
}

TEST_F(Exports, NamesWithoutAFunctionShareOneStubThatAnswersMinus300) {
    ASSERT_TRUE(api_.loaded());
    using Stub = int (*)();
    const Stub first = api_.get<Stub>("QZAPI_SetAdminKey");
    for (const char* name : {"QZAPI_SetAdminKey", "QZAPI_GMBankInitSec", "QZAPI_GMORVAGetKeyMsg",
                             "QZAPI_GMORVAGetXMLMsg", "QZAPI_GMORVAVerify", "QZAPI_PrtRandomPIN"}) {
        const Stub stub = api_.get<Stub>(name);
        EXPECT_EQ(stub, first) << name;
        EXPECT_EQ(stub(), kOperationFailed) << name;
    }
}

}  // namespace
}  // namespace orva::api::test
