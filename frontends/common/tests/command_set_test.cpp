// The command vocabulary: what each front end offers and which exports the
// commands reach.

#include "command_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "api_function_table.h"

namespace orva::frontend {
namespace {

TEST(CommandSet, EachFrontEndOffersItsCommands) {
    EXPECT_EQ(commandCount(kHost), 35u);
    EXPECT_EQ(commandCount(kPlugin), 38u);
    EXPECT_EQ(commandCount(kControl), 33u);
    std::set<std::string_view> names;
    for (const CommandRow& row : kCommandSet) {
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
    }
}

// A front end's table as tableMatches reads it: rows with a name.
struct NamedRow {
    std::string_view name;
};

std::vector<NamedRow> hostRows() {
    std::vector<NamedRow> rows;
    for (const CommandRow& row : kCommandSet) {
        if ((row.offeredBy & kHost) != 0) {
            rows.push_back({row.name});
        }
    }
    return rows;
}

TEST(CommandSet, ATableMatchesWithItsNamesEachOnceAndInItsOrder) {
    struct Case {
        const char* name;
        void (*edit)(std::vector<NamedRow>& rows);
        bool inVocabularyOrder;
        bool inOwnOrder;
    };
    const Case cases[] = {
        {"as the vocabulary has it", [](std::vector<NamedRow>&) {}, true, true},
        {"two swapped", [](std::vector<NamedRow>& r) { std::swap(r[0], r[1]); }, false, true},
        {"reversed", [](std::vector<NamedRow>& r) { std::reverse(r.begin(), r.end()); }, false,
         true},
        {"one missing", [](std::vector<NamedRow>& r) { r.pop_back(); }, false, false},
        {"one twice", [](std::vector<NamedRow>& r) { r.back() = r.front(); }, false, false},
        {"one of another front end", [](std::vector<NamedRow>& r) { r.back() = {"FreeBuffer"}; },
         false, false},
        {"one unknown", [](std::vector<NamedRow>& r) { r[3] = {"getmediaid"}; }, false, false},
        {"one more", [](std::vector<NamedRow>& r) { r.push_back({"GetMediaID"}); }, false, false},
    };
    for (const Case& c : cases) {
        std::vector<NamedRow> rows = hostRows();
        c.edit(rows);
        EXPECT_EQ(tableMatches(rows, kHost, TableOrder::vocabulary), c.inVocabularyOrder) << c.name;
        EXPECT_EQ(tableMatches(rows, kHost, TableOrder::own), c.inOwnOrder) << c.name;
    }
}

TEST(CommandSet, OnlyTheHostOffersTheFileDialogPathAndThePieces) {
    for (const CommandRow& row : kCommandSet) {
        if (row.offeredBy == kHost) {
            EXPECT_TRUE(row.name == "NSChooseFile" || row.name == "GetDataPackage") << row.name;
        }
    }
}

TEST(CommandSet, EveryExportNamedIsBoundAndNineAreNeverCalled) {
    std::set<std::string> called;
    for (const CommandRow& row : kCommandSet) {
        if (row.exportName.empty()) {
            continue;
        }
        const std::string name = "QZAPI_" + std::string(row.exportName);
        EXPECT_NE(std::find_if(kApiFunctionNames.begin(), kApiFunctionNames.end(),
                               [&](const char* bound) { return name == bound; }),
                  kApiFunctionNames.end())
            << name;
        called.insert(name);
    }
    std::set<std::string> uncalled;
    for (const char* name : kApiFunctionNames) {
        if (called.count(name) == 0) {
            uncalled.insert(name);
        }
    }
    EXPECT_EQ(uncalled, (std::set<std::string>{
                            "QZAPI_GMCreatePKCS10Ex", "QZAPI_SetAdminKey", "QZAPI_GMORVAVerify",
                            "QZAPI_GMORVAGetXMLMsg", "QZAPI_GMORVAGetKeyMsg", "QZAPI_GMBankInitSec",
                            "QZAPI_DelExpiredCert", "QZAPI_PrtRandomPIN", "QZAPI_GetCertType"}));
}

TEST(ApiFunctionTable, NamesStandInLookupOrder) {
    EXPECT_STREQ(kApiFunctionNames.front(), "QZAPI_GetDevSN");
    EXPECT_STREQ(kApiFunctionNames[15], "QZAPI_GMUsbKeySign");
    EXPECT_STREQ(kApiFunctionNames[28], "QZAPI_ChooseFileExt");
    EXPECT_STREQ(kApiFunctionNames[32], "QZAPI_ChooseFile");
    EXPECT_STREQ(kApiFunctionNames.back(), "QZAPI_GetCertType");
}

}  // namespace
}  // namespace orva::frontend
