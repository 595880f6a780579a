// The COM layer's own contract where a fault would hide: BSTR lengths,
// VARIANT coercions and their overflow, error information handed over, GUID
// texts, the registrar's two modes and the categories manager.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "orva/com_registration.h"
#include "orva/registry_file.h"
#include "orva/testing/support.h"
#include "win32/com.h"
#include "win32/errors.h"
#include "win32/version.h"

namespace {

using orva::platform::guidText;

std::u16string textOf(BSTR text) {
    return text == nullptr ? u"<null>" : std::u16string(text, SysStringLen(text));
}

TEST(Bstr, LengthsCountUnitsAndEmbeddedNuls) {
    const std::size_t live = orva::platform::liveBstrCount();
    BSTR text = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(SysStringByteLen(text), 6u);
    EXPECT_EQ(text[3], u'\0');
    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(orva::platform::liveBstrCount(), live + 2);
    // The fault switch: one allocation passes, the next fails, then all pass.
    orva::platform::failBstrAllocations(1, 1);
    BSTR first = SysAllocString(u"x");
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(SysAllocString(u"y"), nullptr);
    BSTR third = SysAllocString(u"z");
    EXPECT_NE(third, nullptr);
    for (BSTR owned : {text, empty, first, third}) {
        SysFreeString(owned);
    }
    SysFreeString(nullptr);
    EXPECT_EQ(orva::platform::liveBstrCount(), live);
}

TEST(Bstr, AnOddByteLengthIsKeptAndCopiedWhole) {
    BSTR odd = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    // A NUL character follows the bytes, whole.
    const auto* bytes = reinterpret_cast<const unsigned char*>(odd);
    EXPECT_EQ(bytes[3] | bytes[4] | bytes[5], 0);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = odd;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantChangeType(&copy, &source, 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringByteLen(copy.bstrVal), 3u);
    EXPECT_EQ(std::memcmp(copy.bstrVal, "abc", 3), 0);
    VariantClear(&copy);
    VariantClear(&source);
}

VARIANT of(VARTYPE vt) {
    VARIANT value;
    VariantInit(&value);
    value.vt = vt;
    return value;
}
VARIANT ofText(const char16_t* text) {
    VARIANT value = of(VT_BSTR);
    value.bstrVal = SysAllocString(text);
    return value;
}
// A value of type vt held in the member of T's type: every member of the
// union starts at the same place.
template <class T>
VARIANT ofValue(VARTYPE vt, T member) {
    VARIANT value = of(vt);
    std::memcpy(&value.llVal, &member, sizeof member);
    return value;
}

// The text column: nullptr means refused as a type mismatch; kUnchecked means
// the text is left out of the contract.
constexpr const char16_t* kUnchecked = u"<unchecked>";

TEST(Variant, EveryTypeAScriptSendsCoercesToIntAndTextAlsoInPlace) {
    int64_t big = -5;
    CY money{25000};
    BYTE small = 200;
    float single = 0.25f;
    INT integer = 77;
    VARIANT bigRef = of(VT_BYREF | VT_I8);
    bigRef.pllVal = &big;
    VARIANT moneyRef = of(VT_BYREF | VT_CY);
    moneyRef.pcyVal = &money;
    VARIANT smallRef = of(VT_BYREF | VT_UI1);
    smallRef.pbVal = &small;
    VARIANT singleRef = of(VT_BYREF | VT_R4);
    singleRef.pfltVal = &single;
    VARIANT intRef = of(VT_BYREF | VT_INT);
    intRef.pintVal = &integer;
    constexpr HRESULT overflow = DISP_E_OVERFLOW;
    constexpr HRESULT mismatch = DISP_E_TYPEMISMATCH;
    struct Row {
        const char* source;
        VARIANT value;
        HRESULT intHr;
        INT integer;
        const char16_t* text;
    } rows[] = {
        {"UI1 255", ofValue(VT_UI1, BYTE{255}), S_OK, 255, u"255"},
        {"I1 -128", ofValue(VT_I1, CHAR(-128)), S_OK, -128, u"-128"},
        {"UI2 65535", ofValue(VT_UI2, USHORT{65535}), S_OK, 65535, u"65535"},
        {"I4 -101", ofValue(VT_I4, LONG{-101}), S_OK, -101, u"-101"},
        {"UI4 INT_MAX", ofValue(VT_UI4, ULONG{2147483647}), S_OK, 2147483647, u"2147483647"},
        {"UI4 4e9", ofValue(VT_UI4, ULONG{4000000000}), overflow, 0, u"4000000000"},
        {"UINT INT_MAX + 1", ofValue(VT_UINT, UINT{2147483648}), overflow, 0, u"2147483648"},
        {"I8 INT_MIN", ofValue(VT_I8, int64_t{-2147483648LL}), S_OK, INT_MIN, u"-2147483648"},
        {"I8 INT_MAX + 1", ofValue(VT_I8, int64_t{2147483648LL}), overflow, 0, u"2147483648"},
        {"I8 min", ofValue(VT_I8, int64_t{INT64_MIN}), overflow, 0, u"-9223372036854775808"},
        {"UI8 7", ofValue(VT_UI8, uint64_t{7}), S_OK, 7, u"7"},
        {"UI8 max", ofValue(VT_UI8, UINT64_MAX), overflow, 0, u"18446744073709551615"},
        // Floats: half to even, and the shortest text that reads back.
        {"R4 2.5", ofValue(VT_R4, 2.5f), S_OK, 2, u"2.5"},
        {"R4 -3.5", ofValue(VT_R4, -3.5f), S_OK, -4, u"-3.5"},
        {"R4 0.1", ofValue(VT_R4, 0.1f), S_OK, 0, u"0.1"},
        {"R4 2^24", ofValue(VT_R4, 16777216.0f), S_OK, 16777216, u"16777216"},
        {"R4 3e9", ofValue(VT_R4, 3e9f), overflow, 0, u"3e+09"},
        {"R8 2.5", ofValue(VT_R8, 2.5), S_OK, 2, u"2.5"},
        {"R8 3.5", ofValue(VT_R8, 3.5), S_OK, 4, u"3.5"},
        {"R8 -2.5", ofValue(VT_R8, -2.5), S_OK, -2, u"-2.5"},
        {"R8 5.9", ofValue(VT_R8, 5.9), S_OK, 6, u"5.9"},
        {"R8 0.1", ofValue(VT_R8, 0.1), S_OK, 0, u"0.1"},
        {"R8 INT_MAX + 0.4", ofValue(VT_R8, 2147483647.4), S_OK, INT_MAX, u"2147483647.4"},
        {"R8 INT_MAX + 1", ofValue(VT_R8, 2147483648.0), overflow, 0, u"2147483648"},
        {"R8 INT_MIN - 1", ofValue(VT_R8, -2147483649.0), overflow, 0, u"-2147483649"},
        {"R8 NaN", ofValue(VT_R8, std::nan("")), overflow, 0, kUnchecked},
        // Currency: ten-thousandths, rounded half to even.
        {"CY 2.5", ofValue(VT_CY, CY{25000}), S_OK, 2, u"2.5"},
        {"CY 3.5", ofValue(VT_CY, CY{35000}), S_OK, 4, u"3.5"},
        {"CY -2.5", ofValue(VT_CY, CY{-25000}), S_OK, -2, u"-2.5"},
        {"CY 1.5001", ofValue(VT_CY, CY{15001}), S_OK, 2, u"1.5001"},
        {"CY -0.5", ofValue(VT_CY, CY{-5000}), S_OK, 0, u"-0.5"},
        {"CY -0.0001", ofValue(VT_CY, CY{-1}), S_OK, 0, u"-0.0001"},
        {"CY 1", ofValue(VT_CY, CY{10000}), S_OK, 1, u"1"},
        {"CY INT_MAX + 0.4999", ofValue(VT_CY, CY{21474836474999LL}), S_OK, INT_MAX,
         u"2147483647.4999"},
        {"CY INT_MAX + 0.5", ofValue(VT_CY, CY{21474836475000LL}), overflow, 0, u"2147483647.5"},
        {"CY INT_MIN - 0.5", ofValue(VT_CY, CY{-21474836485000LL}), S_OK, INT_MIN,
         u"-2147483648.5"},
        {"CY min", ofValue(VT_CY, CY{INT64_MIN}), overflow, 0, u"-922337203685477.5808"},
        // Dates: their day count as a number; no locale's text.
        {"DATE 2000-01-01 noon", ofValue(VT_DATE, DATE{36526.5}), S_OK, 36526, nullptr},
        {"DATE -1.5", ofValue(VT_DATE, DATE{-1.5}), S_OK, -2, nullptr},
        {"DATE 3e9", ofValue(VT_DATE, DATE{3e9}), overflow, 0, nullptr},
        // Texts read as numbers, the form a double converts to ("1e-05") too.
        {"' 42 '", ofText(u" 42 "), S_OK, 42, u" 42 "},
        {"'-7.5'", ofText(u"-7.5"), S_OK, -8, u"-7.5"},
        {"'9999999999'", ofText(u"9999999999"), overflow, 0, u"9999999999"},
        {"'0x10'", ofText(u"0x10"), mismatch, 0, u"0x10"},
        {"'1e-05'", ofText(u"1e-05"), S_OK, 0, u"1e-05"},
        {"'2.5E+3'", ofText(u"2.5E+3"), S_OK, 2500, u"2.5E+3"},
        {"'1e999'", ofText(u"1e999"), overflow, 0, u"1e999"},
        {"'1e'", ofText(u"1e"), mismatch, 0, u"1e"},
        {"'e5'", ofText(u"e5"), mismatch, 0, u"e5"},
        {"'abc'", ofText(u"abc"), mismatch, 0, u"abc"},
        {"''", ofText(u""), mismatch, 0, u""},
        {"null BSTR", of(VT_BSTR), mismatch, 0, u"<null>"},
        {"true", ofValue(VT_BOOL, VARIANT_BOOL{VARIANT_TRUE}), S_OK, -1, u"True"},
        // An unset argument is 0 and the null BSTR.
        {"empty", of(VT_EMPTY), S_OK, 0, u"<null>"},
        {"null", of(VT_NULL), mismatch, 0, nullptr},
        {"INT by reference", intRef, S_OK, 77, u"77"},
        {"I8 by reference", bigRef, S_OK, -5, u"-5"},
        {"CY by reference", moneyRef, S_OK, 2, u"2.5"},
        {"UI1 by reference", smallRef, S_OK, 200, u"200"},
        {"R4 by reference", singleRef, S_OK, 0, u"0.25"},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.source);
        for (const VARTYPE vt : {VT_INT, VT_I4}) {
            VARIANT result = of(VT_EMPTY);
            EXPECT_EQ(VariantChangeType(&result, &row.value, 0, vt), row.intHr);
            EXPECT_EQ(result.vt, row.intHr == S_OK ? vt : VARTYPE{VT_EMPTY});
            if (row.intHr == S_OK) {
                EXPECT_EQ(result.intVal, row.integer);
            }
        }
        if (row.text != kUnchecked) {
            const HRESULT textHr = row.text != nullptr ? S_OK : mismatch;
            VARIANT text = of(VT_EMPTY);
            EXPECT_EQ(VariantChangeType(&text, &row.value, 0, VT_BSTR), textHr);
            EXPECT_EQ(text.vt, textHr == S_OK ? VT_BSTR : VT_EMPTY);
            // In place: source and destination are one VARIANT.
            EXPECT_EQ(VariantChangeType(&row.value, &row.value, 0, VT_BSTR), textHr);
            if (textHr == S_OK) {
                EXPECT_EQ(textOf(text.bstrVal), row.text);
                EXPECT_EQ(row.value.vt, VT_BSTR);
                EXPECT_EQ(textOf(row.value.bstrVal), row.text);
            }
            VariantClear(&text);
        }
        VariantClear(&row.value);
    }
}

TEST(ErrorInfo, IsHandedOverOnceAndReplaced) {
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
    for (const char16_t* text : {u"first", u"second"}) {
        ICreateErrorInfo* create = nullptr;
        ASSERT_EQ(CreateErrorInfo(&create), S_OK);
        create->SetDescription(const_cast<LPOLESTR>(text));
        ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
        SetErrorInfo(0, info);
        info->Release();
        create->Release();
    }
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR description = nullptr;
    EXPECT_EQ(info->GetDescription(&description), S_OK);
    EXPECT_EQ(textOf(description), u"second");
    SysFreeString(description);
    info->Release();
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
    EXPECT_EQ(info, nullptr);
}

TEST(Guid, TextRoundTripsAndRefusesMalformedText) {
    const GUID guid{0xF0682987, 0xA368, 0x4235, {0x80, 0x21, 0x46, 0x0C, 0xD7, 0xF2, 0xA6, 0x30}};
    EXPECT_EQ(guidText(guid), "{F0682987-A368-4235-8021-460CD7F2A630}");
    EXPECT_EQ(orva::platform::guidFromText("{f0682987-a368-4235-8021-460cd7f2a630}"), guid);
    OLECHAR text[39];
    EXPECT_EQ(StringFromGUID2(guid, text, 38), 0);
    EXPECT_EQ(StringFromGUID2(guid, text, 39), 39);
    CLSID parsed{};
    EXPECT_EQ(CLSIDFromString(text, &parsed), S_OK);
    EXPECT_EQ(parsed, guid);
    for (const char* bad :
         {"F0682987-A368-4235-8021-460CD7F2A630", "{F0682987-A368-4235-8021-460CD7F2A63}",
          "{F0682987-A368-4235-8021+460CD7F2A630}", "{G0682987-A368-4235-8021-460CD7F2A630}",
          "{F0682987-A368-4235-8021-460CD7F2A6300}"}) {
        EXPECT_FALSE(orva::platform::guidFromText(bad).has_value()) << bad;
    }
}

class ComRegistryTest : public ::testing::Test {
  protected:
    ComRegistryTest() {
        ::setenv("ORVA_REGISTRY", dir_.file("registry.reg").c_str(), 1);
        orva::testing::writeFile(dir_.path() / "registry.reg", "REGEDIT4\n");
    }
    ~ComRegistryTest() override { ::unsetenv("ORVA_REGISTRY"); }

    static std::string classes() {
        std::string text;
        EXPECT_EQ(orva::platform::exportRegistryText(HKEY_CLASSES_ROOT, "", 0, &text, nullptr),
                  ERROR_SUCCESS);
        const std::string header = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n\n";
        return text.rfind(header, 0) == 0 ? text.substr(header.size()) : text;
    }
    static void addKey(const char* path) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    orva::testing::TempDir dir_{"orva_com"};
};

constexpr const char* kScript = R"(HKCR
{
	'App.Name' = s 'It''s %MODULE%'
	{
		val Path = s '%%%MODULE%'
	}
	NoRemove Shared
	{
		ForceRemove Mine = s 'x'
		Kept
		{
			Leaf
		}
	}
}
)";

TEST_F(ComRegistryTest, TheRegistrarWritesAndRemovesWhatItsScriptNames) {
    addKey("Shared\\Mine\\Stale");
    addKey("Shared\\Kept\\Foreign");
    ASSERT_EQ(orva::platform::runRegistryScript(kScript, "/o'dir/m.so", true), S_OK);
    const std::string k = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\";
    EXPECT_EQ(classes(), k + "App.Name]\n@=\"It's /o'dir/m.so\"\n\"Path\"=\"%/o'dir/m.so\"\n\n" +
                             k + "Shared]\n\n" + k + "Shared\\Kept]\n\n" + k +
                             "Shared\\Kept\\Foreign]\n\n" + k + "Shared\\Kept\\Leaf]\n\n" + k +
                             "Shared\\Mine]\n@=\"x\"\n\n");
    // Removal keeps NoRemove keys and a key that holds a subkey of someone else's.
    ASSERT_EQ(orva::platform::runRegistryScript(kScript, "", false), S_OK);
    EXPECT_EQ(classes(),
              k + "Shared]\n\n" + k + "Shared\\Kept]\n\n" + k + "Shared\\Kept\\Foreign]\n\n");
    EXPECT_EQ(orva::platform::runRegistryScript(kScript, "", false), S_OK);

    for (const char* bad : {"HKLM { A }", "HKCR { A = s 'open }", "HKCR { A = s '%OTHER%' }",
                            "HKCR { A { B }", "HKCR { A = 'no type' }", "HKCR { val X = s 'y' }"}) {
        EXPECT_EQ(orva::platform::runRegistryScript(bad, "", true), E_INVALIDARG) << bad;
    }
}

TEST_F(ComRegistryTest, TheCategoriesManagerKeepsItsKeysUnderTheClass) {
    ICatRegister* manager = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatRegister, reinterpret_cast<void**>(&manager)),
              S_OK);
    const CLSID clsid{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    CATID catid{0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
    // The class key is gone already: nothing to remove is no failure.
    EXPECT_EQ(manager->UnRegisterClassImplCategories(clsid, 1, &catid), S_OK);
    EXPECT_EQ(manager->RegisterClassImplCategories(clsid, 1, &catid), S_OK);
    const std::string list = "CLSID\\" + guidText(clsid) + "\\Implemented Categories";
    EXPECT_NE(classes().find(list + "\\" + guidText(catid) + "]"), std::string::npos);
    EXPECT_EQ(manager->UnRegisterClassImplCategories(clsid, 1, &catid), S_OK);
    EXPECT_EQ(classes().find(list), std::string::npos);
    manager->Release();

    IUnknown* outer = manager;
    EXPECT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, outer, CLSCTX_INPROC_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&manager)),
              CLASS_E_NOAGGREGATION);
    const CLSID unknownClass{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(unknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(u"No.Such.1", &found), CO_E_CLASSSTRING);
}

TEST(VersionInfo, AModuleWithoutABlockHasNoVersion) {
    DWORD handle = 1;
    EXPECT_EQ(GetFileVersionInfoSizeA("libplatform.so", &handle), 0u);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(GetFileVersionInfoSizeA("/no/such/module.so", &handle), 0u);
    char block[64] = {};
    void* value = nullptr;
    UINT length = 0;
    EXPECT_FALSE(VerQueryValueA(block, "\\", &value, &length));
}

}  // namespace
