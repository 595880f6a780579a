// The 38 methods through the stand-in browser, against the recording
// stand-in library: which export each calls with which arguments, what they
// refuse, the charset rule and the results a page gets.

#include <climits>
#include <cmath>
#include <tuple>

#include "fake_api_text.h"
#include "plugin_test_support.h"

namespace orva::npapi_plugin::test {
namespace {

using Args = std::vector<ScriptValue>;
using S = std::string;

const S kDn = "CN=Zhang San";
const S kXml = "<T>\xe4\xb8\xad\xe6\x96\x87</T>";  // "<T>中文</T>" in UTF-8
const S kXmlGb = "<T>\xd6\xd0\xce\xc4</T>";        // and in GB18030

using MethodsTest = FakeApiPluginTest;

struct MethodRow {
    const char* method;
    Args args;
    std::vector<S> calls;  // "fn args" per export call, in order
    ScriptValue result;
};

std::string logged(const std::vector<ApiCall>& calls) {
    std::string text;
    for (const ApiCall& call : calls) {
        text += call.fn + " " + call.args + "\n";
    }
    return text;
}

TEST_F(MethodsTest, EachMethodCallsItsExportWithItsArgumentsAndBuffer) {
    script(R"({"GetPublicKeyNum":{"count":3}})");
    const S dn = hex(kDn), sm3 = hex("SM3"), abc = hex("abc"), k = hex("k");
    const std::vector<MethodRow> rows = {
        {"GetLongValue", {}, {}, int32_t{0}},
        {"GetStrValue1", {}, {}, S()},
        {"GetStrValue2", {}, {}, S()},
        {"GetStrValue3", {}, {}, S()},
        {"GetMediaID", {}, {"GetDevSN [true,260]"}, S("GetDevSN")},
        {"GetDriverVersion", {}, {"GetDriverVer [true,32]"}, S("GetDriverVer")},
        {"GMGetCertDN", {}, {"GMGetCertDN [true,8192]"}, S("GMGetCertDN")},
        {"GMGetPublicKey", {S("1")}, {"GMGetPubkeyInfo [\"31\",true,8192]"}, S("GMGetPubkeyInfo")},
        {"GMGetPublicKeyC",
         {S("1"), kDn, S("rnd")},
         {"GMGetPubkeyInfoC [\"31\",\"" + dn + "\",\"" + hex("rnd") + "\",true,8192]"},
         S("GMGetPubkeyInfoC")},
        {"GetPublicKeyC", {}, {"GetPublicKeyC [true,8192]"}, S("GetPublicKeyC")},
        {"GMGetAdminKeyInfo", {}, {"GMGetAdminKeyInfo [true,128]"}, S("GMGetAdminKeyInfo")},
        {"GMDelTempKey",
         {kDn, S("07")},
         {"GMDelTempKey [\"" + dn + "\",12,\"" + hex("07") + "\"]"},
         int32_t{0}},
        {"GetVersion", {}, {}, S("1.0.0.0")},
        {"CustInitCard", {}, {"CustInitCard [null,0]"}, int32_t{0}},
        {"ChangePin", {}, {"ChangePIN [null,0,null,0]"}, int32_t{0}},
        {"GetCharsetList", {}, {"GetCharset [true,512]"}, S("GetCharset")},
        {"SetCharset", {S("GBK")}, {"SetCharset [\"" + hex("GBK") + "\"]"}, int32_t{0}},
        {"GetLanguageList", {}, {"GetDevLanguageList [true,512]"}, S("GetDevLanguageList")},
        {"SetLanguage", {S("zh")}, {"SetDevLanguage [\"" + hex("zh") + "\"]"}, int32_t{0}},
        {"SetWarningMsg", {}, {"SetWarningTips [\"\"]"}, int32_t{0}},
        // The size, then the signature into size + 1 bytes; "abc" counts its NUL under GBK.
        {"GMUsbKeySign",
         {kDn, S("SM3"), S("abc"), S("k"), S()},
         {"GMUsbKeySign [\"" + dn + "\",\"" + sm3 + "\",\"" + abc + "\",4,null,\"" + k +
              "\",null,false,0]",
          "GMUsbKeySign [\"" + dn + "\",\"" + sm3 + "\",\"" + abc + "\",4,null,\"" + k +
              "\",null,true,13]"},
         S("GMUsbKeySign")},
        {"GMCreatePKCS10",
         {S("req")},
         {"GMCreatePKCS10 [\"" + hex("req") + "\",true,8192]"},
         S("GMCreatePKCS10")},
        {"GMWritePKCS7",
         {S("p7")},
         {"GMWritePKCS7_Enc [\"" + hex("p7") + "\",null,null]"},
         int32_t{0}},
        {"GMUsbKeySignFile",
         {kDn, S("SM3"), S("abc"), S("k"), S("/in"), S("/out")},
         {"GMUsbKeySign [\"" + dn + "\",\"" + sm3 + "\",\"" + abc + "\",4,\"" + hex("/in") +
          "\",\"" + k + "\",\"" + hex("/out") + "\",false,null]"},
         int32_t{0}},
        {"GMWritePKCS7_Enc",
         {S("p7"), S("enc"), int32_t{5}},
         {"GMWritePKCS7_Enc [\"" + hex("p7") + "\",\"" + hex("enc") + "\",null]"},
         int32_t{0}},
        {"GMGetTemKey", {}, {"GMGetTemKey [true,1024]"}, S("GMGetTemKey")},
        {"GMBankEncGetRand", {}, {"GMBankGetRand [true,1024]"}, S("GMBankGetRand")},
        {"GMGetPKCS7", {}, {"GMGetPKCS7 [true,32768]"}, S("GMGetPKCS7")},
        {"GMJudgeAndDelOlderDN", {}, {"GMJudgeAndDelOlderDN [0]"}, int32_t{0}},
        {"GetCSPInfo", {}, {"GetCSPInfo [true,260]"}, S("GetCSPInfo")},
        {"GetPublicKeyNum", {}, {"GetPublicKeyNum [0]"}, int32_t{3}},
        {"RegisterCert", {}, {"RegisterCert []"}, int32_t{0}},
        {"UnRegisterCert", {}, {"UnRegisterCert []"}, int32_t{0}},
        {"NSChooseFileExt", {}, {"ChooseFileExt [true,4096]"}, S("ChooseFileExt")},
        {"NSFileToTokenExt",
         {S("/in")},
         {"FileToTokenExt [\"" + hex("/in") + "\",true,4096]"},
         S("FileToTokenExt")},
        {"GMUsbKeySignFileExt",
         {kDn, S("SM3"), S("abc"), S("k"), S("tok")},
         {"GMUsbKeySignFileExt [\"" + dn + "\",\"" + sm3 + "\",\"" + abc + "\",4,\"" + k + "\",\"" +
          hex("tok") + "\",true,8192]"},
         S("GMUsbKeySignFileExt")},
        // A number in a String reads as its digits, a Double truncates: 100 + 64 bytes.
        {"GetSignFileContent",
         {S("tok"), S("100"), 5.9},
         {"GetSignFileContent [\"" + hex("tok") + "\",100,5,true,164]"},
         S("GetSignFileContent")},
        {"FreeBuffer", {}, {}, int32_t{0}},
    };
    ASSERT_EQ(rows.size(), 38u);
    for (const MethodRow& row : rows) {
        EXPECT_TRUE(session().hasMethod(row.method)) << row.method;
        const CallResult result = call(row.method, row.args);
        EXPECT_TRUE(result.invoked) << row.method;
        EXPECT_EQ(result.value, row.result) << row.method;
        std::string expected;
        for (const S& line : row.calls) {
            expected += line + "\n";
        }
        EXPECT_EQ(logged(takeCalls()), expected) << row.method;
    }
}

struct RefusalRow {
    const char* method;
    Args args;
    int32_t code;
};

TEST_F(MethodsTest, BadArgumentsAreRefusedBeforeTheLibraryIsCalled) {
    const S sign[] = {kDn, "SM3", "abc", "k"};
    const double big = std::ldexp(1.0, 40);
    const std::vector<RefusalRow> rows = {
        {"GMGetPublicKey", {}, -106},
        {"GMGetPublicKey", {S(16, 'a')}, -106},
        {"GMGetPublicKey", {int32_t{1}}, -106},
        {"GMGetPublicKeyC", {S("1"), S("a")}, -106},
        {"GMGetPublicKeyC", {S("1"), S(256, 'a'), S()}, -106},
        {"GMGetPublicKeyC", {S("1"), S(), S(256, 'a')}, -106},
        {"GMDelTempKey", {S("a")}, -106},
        {"GMDelTempKey", {S(1024, 'a'), S()}, -106},
        {"GMDelTempKey", {S(), S(64, 'a')}, -106},
        {"SetCharset", {S(128, 'a')}, -106},
        // Longer than the plug-in can keep, though the library might take it.
        {"SetCharset", {S(64, 'a')}, -106},
        {"SetLanguage", {S(128, 'a')}, -106},
        {"SetLanguage", {false}, -106},
        {"GMUsbKeySign", {sign[0], sign[1], sign[2], sign[3]}, -106},
        // Texts the library reads must be Strings.
        {"GMUsbKeySign", {sign[0], sign[1], int32_t{7}, sign[3], S()}, -106},
        {"GMUsbKeySign", {nullptr, sign[1], sign[2], sign[3], S()}, -106},
        {"GMUsbKeySign", {sign[0], sign[1], sign[2], sign[3], true}, -106},
        {"GMUsbKeySign", {sign[0], sign[1], S("\xff"), sign[3], S()}, -338},
        {"GMCreatePKCS10", {int32_t{1}}, -106},
        {"GMWritePKCS7", {}, -106},
        {"GMUsbKeySignFile", {sign[0], sign[1], sign[2], sign[3], S("/in")}, -106},
        {"GMUsbKeySignFile", {sign[0], sign[1], sign[2], sign[3], S(), S("/out")}, -106},
        {"GMUsbKeySignFile", {sign[0], sign[1], sign[2], sign[3], S("/in"), S()}, -106},
        {"GMWritePKCS7_Enc", {S("p7"), S()}, -106},
        {"NSFileToTokenExt", {S()}, -106},
        {"NSFileToTokenExt", {S("\xc0\xaf")}, -338},
        {"GMUsbKeySignFileExt", {sign[0], sign[1], sign[2], sign[3]}, -106},
        {"GMUsbKeySignFileExt", {sign[0], sign[1], sign[2], sign[3], int32_t{1}}, -106},
        {"GetSignFileContent", {S("tok"), int32_t{100}}, -106},
        {"GetSignFileContent", {S(), int32_t{100}, int32_t{0}}, -106},
        {"GetSignFileContent", {int32_t{1}, int32_t{100}, int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), int32_t{0}, int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), int32_t{-64}, int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), S("abc"), int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), true, int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), std::nan(""), int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), HUGE_VAL, int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), big, int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), S("99999999999"), int32_t{0}}, -106},
        {"GetSignFileContent", {S("tok"), int32_t{100}, -big}, -106},
        // The length asked for and the 64 bytes around it must fit an int.
        {"GetSignFileContent", {S("tok"), int32_t{INT_MAX - 63}, int32_t{0}}, -307},
    };
    for (const RefusalRow& row : rows) {
        const CallResult result = call(row.method, row.args);
        EXPECT_EQ(result.value, ScriptValue(row.code)) << row.method << " " << row.args.size();
        EXPECT_EQ(logged(takeCalls()), "") << row.method;
    }
}

TEST_F(MethodsTest, ArgumentsJustWithinTheirLimitsAreCalled) {
    const std::vector<std::pair<const char*, Args>> rows = {
        {"GMGetPublicKey", {S(15, 'a')}},
        {"GMGetPublicKeyC", {S(15, 'a'), S(255, 'b'), S(255, 'c')}},
        {"GMDelTempKey", {S(1023, 'a'), S(63, 'b')}},
        {"SetCharset", {S(63, 'a')}},
        {"SetLanguage", {S(127, 'a')}},
        {"GMUsbKeySign", {kDn, S(31, 'h'), S("x"), S("y"), S()}},
        {"GetSignFileContent", {S("tok"), S("1"), int32_t{-1}}},
    };
    for (const auto& [method, args] : rows) {
        call(method, args);
        EXPECT_FALSE(takeCalls().empty()) << method;
    }
}

TEST_F(MethodsTest, DelTempKeyTakesAnythingButAStringAsTheEmptyText) {
    EXPECT_EQ(call("GMDelTempKey", {int32_t{5}, nullptr}).value, ScriptValue(int32_t{0}));
    EXPECT_EQ(logged(takeCalls()), "GMDelTempKey [\"\",0,\"\"]\n");
}

TEST_F(MethodsTest, AHugeMaximumReservesOnlyWhatThePieceNeeds) {
    const S tok = "GetSignFileContent [\"" + hex("tok") + "\",2000000000,0,true,";
    const S piece = orva::fake_api::fakeText(70000);
    struct Row {
        const char* script;
        std::vector<S> calls;
        ScriptValue result;
    };
    const Row rows[] = {
        // A refused token costs the first room only.
        {R"({"GetSignFileContent":{"code":-341}})", {tok + "65536]"}, int32_t{-341}},
        {R"({"GetSignFileContent":{"text":"MARK=2||CONTENT=ab"}})",
         {tok + "65536]"},
         S("MARK=2||CONTENT=ab")},
        // A longer piece: once more, with exactly the room it needs.
        {R"({"GetSignFileContent":{"length":70000}})", {tok + "65536]", tok + "70001]"}, piece},
    };
    for (const Row& row : rows) {
        script(row.script);
        EXPECT_EQ(call("GetSignFileContent", {S("tok"), int32_t{2'000'000'000}, int32_t{0}}).value,
                  row.result)
            << row.script;
        S expected;
        for (const S& line : row.calls) {
            expected += line + "\n";
        }
        EXPECT_EQ(logged(takeCalls()), expected) << row.script;
    }
}

TEST_F(MethodsTest, TheSigningTextsFollowThePluginsCharset) {
    const auto signedWith = [&](const S& xml) {
        script(R"({"GMUsbKeySign":{"sizeCode":-102}})");
        call("GMUsbKeySign", {kDn, S("SM3"), xml, xml, S()});
        const std::vector<ApiCall> calls = takeCalls();
        return calls.empty() ? S() : calls.front().args;
    };
    const auto expected = [&](const S& bytes, int length) {
        return "[\"" + hex(kDn) + "\",\"" + hex("SM3") + "\",\"" + hex(bytes) + "\"," +
               std::to_string(length) + ",null,\"" + hex(bytes) + "\",null,false,0]";
    };
    // GBK at start: converted, and the length counts the NUL.
    EXPECT_EQ(signedWith(kXml), expected(kXmlGb, static_cast<int>(kXmlGb.size()) + 1));
    // "GBK" or "GB18030" in any case converts, as the library reads the name;
    // any other name passes the page's bytes (UTF-8 and GB18030 through the
    // real library: conformance's TransactionTextInEachCharset).
    const std::vector<std::pair<S, bool>> charsets = {{"gbk", true}, {"GB2312", false}};
    for (const auto& [charset, converts] : charsets) {
        script("{}");
        EXPECT_EQ(call("SetCharset", {charset}).value, ScriptValue(int32_t{0}));
        takeCalls();
        EXPECT_EQ(signedWith(kXml), converts ? expected(kXmlGb, int(kXmlGb.size()) + 1)
                                             : expected(kXml, int(kXml.size())))
            << charset;
    }
    // A name the library refuses leaves the plug-in's setting as it was.
    script(R"({"SetCharset":{"code":-106}})");
    EXPECT_EQ(call("SetCharset", {S("GBK")}).value, ScriptValue(int32_t{-106}));
    takeCalls();
    EXPECT_EQ(signedWith("abc"), expected("abc", 3));
}

TEST_F(MethodsTest, SigningAsksForTheSizeFirst) {
    const Args args = {kDn, S("SM3"), S("abc"), S("k"), S()};
    const std::vector<std::tuple<S, int32_t, std::size_t>> rows = {
        // The size query's failure is the answer; no second call.
        {R"({"GMUsbKeySign":{"sizeCode":-102}})", -102, 1},
        // A size of nothing is the library's failure, not an empty signature.
        {R"({"GMUsbKeySign":{"sizeLength":0}})", -300, 1},
        {R"({"GMUsbKeySign":{"sizeLength":-5}})", -300, 1},
        // The second call's failure is the answer too.
        {R"({"GMUsbKeySign":{"code":-100}})", -100, 2},
    };
    for (const auto& [answers, code, calls] : rows) {
        SCOPED_TRACE(answers);
        script(answers);
        EXPECT_EQ(call("GMUsbKeySign", args).value, ScriptValue(code));
        EXPECT_EQ(takeCalls().size(), calls);
    }
}

TEST_F(MethodsTest, TextResultsAndTheirCodes) {
    script(
        R"({"GetDevSN":{"length":259},"GMGetCertDN":{"length":8192},"GetCSPInfo":{"code":-102}})");
    const CallResult full = call("GetMediaID");
    ASSERT_TRUE(std::holds_alternative<S>(full.value));
    EXPECT_EQ(std::get<S>(full.value).size(), 259u);
    // One more than the buffer holds: the library's kBufferTooSmall reaches the page.
    EXPECT_EQ(call("GMGetCertDN").value, ScriptValue(int32_t{-303}));
    EXPECT_EQ(call("GetCSPInfo").value, ScriptValue(int32_t{-102}));
    // The held slot was released: a page reading it back gets nothing.
    EXPECT_EQ(call("GetStrValue1").value, ScriptValue(S()));
    EXPECT_EQ(call("GetLongValue").value, ScriptValue(int32_t{0}));
}

TEST_F(MethodsTest, NamesOutsideTheMethodsAndTheDefaultCall) {
    EXPECT_FALSE(session().hasMethod("getmediaid"));
    for (const char* name : {"getmediaid", "NSChooseFile", "GetDataPackage"}) {
        EXPECT_FALSE(call(name).invoked) << name;
    }
    const CallResult byDefault = session().invokeDefault();
    EXPECT_TRUE(byDefault.invoked);
    EXPECT_EQ(byDefault.value, ScriptValue(S("default method return val")));
    // No properties, and the object is no constructor.
    NPObject* object = session().object();
    NPVariant result{};
    NPIdentifier name = browser_.identifier("GetMediaID");
    EXPECT_FALSE(object->_class->hasProperty(object, name));
    EXPECT_FALSE(object->_class->getProperty(object, name, &result));
    EXPECT_FALSE(object->_class->setProperty(object, name, &result));
    EXPECT_FALSE(object->_class->construct(object, nullptr, 0, &result));
    EXPECT_EQ(result.type, NPVariantType_Void);
    EXPECT_EQ(logged(takeCalls()), "");
}

TEST_F(MethodsTest, BrowserMemoryRunningOutIsAnsweredWithoutALeak) {
    session();
    // The held copy, then the result: either failing is kMallocFailed.
    for (const std::size_t nth : {1u, 2u}) {
        browser_.allocator().failAllocation(nth);
        EXPECT_EQ(call("GetMediaID").value, ScriptValue(int32_t{-307})) << nth;
        browser_.allocator().failAllocation(nth);
        EXPECT_EQ(call("GetVersion").value, ScriptValue(int32_t{-307})) << nth;
    }
    browser_.allocator().failAllocation(1);
    EXPECT_EQ(session().invokeDefault().value, ScriptValue(int32_t{-307}));
    browser_.allocator().failAllocation(1);
    EXPECT_EQ(call("GetStrValue2").value, ScriptValue(int32_t{-307}));
    EXPECT_EQ(call("GetMediaID").value, ScriptValue(S("GetDevSN")));
    EXPECT_EQ(browser_.allocator().liveBlocks(), 0u);
}

}  // namespace
}  // namespace orva::npapi_plugin::test
