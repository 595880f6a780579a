// The 33 methods through IDispatch, as a page's script calls them, against
// the recording stand-in token API library: the arguments each export
// receives, the result, and the error descriptions.

#include <climits>
#include <cstddef>
#include <cstdint>

#include "control_test_support.h"
#include "fake_api_text.h"
#include "orva/com_registration.h"
#include "usbkey_interface.h"

namespace orva::control::test {
namespace {

// "CN=张三,O=银行" in UTF-8, and "<T>中</T>" in UTF-8 and GB18030.
const std::string kDn = "CN=\xe5\xbc\xa0\xe4\xb8\x89,O=\xe9\x93\xb6\xe8\xa1\x8c";
const std::string kXml = "<T>\xe4\xb8\xad</T>";
const std::string kXmlGb = "<T>\xd6\xd0</T>";
const std::string kShown = "\xe4\xbb\x98";

// The texts every signing call starts with (UTF-8 charset).
std::string signingArgs() {
    return hx(kDn) + "," + hx("SM3") + "," + hx(kXml) + "," + std::to_string(kXml.size());
}

struct MethodRow {
    const char* method;
    DISPID id;
    std::vector<std::string> args;
    std::vector<std::string> calls;
    std::string result;
};

class ControlMethodsTest : public ControlTest {};

TEST_F(ControlMethodsTest, EveryMethodCallsItsExportWithTheConvertedArguments) {
    script(R"({"GMGetCertDN":{"text":")" + kDn + R"("},"GetPublicKeyNum":{"count":3}})");
    const std::string sign = signingArgs();
    const std::vector<MethodRow> rows = {
        {"GetMediaID", 1, {}, {call("GetDevSN", "true,260")}, "GetDevSN"},
        {"GetDriverVersion", 2, {}, {call("GetDriverVer", "true,260")}, "GetDriverVer"},
        {"GMGetCertDN", 3, {}, {call("GMGetCertDN", "true,2080")}, kDn},
        {"GMGetPublicKey",
         4,
         {"SIGN"},
         {call("GMGetPubkeyInfo", hx("SIGN") + ",true,8192")},
         "GMGetPubkeyInfo"},
        {"GMGetPublicKeyC",
         5,
         {"1", "CN=A", "cmFuZA=="},
         {call("GMGetPubkeyInfoC",
               hx("1") + "," + hx("CN=A") + "," + hx("cmFuZA==") + ",true,8192")},
         "GMGetPubkeyInfoC"},
        {"GetPublicKeyC", 6, {}, {call("GetPublicKeyC", "true,8192")}, "GetPublicKeyC"},
        {"GMGetAdminKeyInfo", 7, {}, {call("GMGetAdminKeyInfo", "true,8192")}, "GMGetAdminKeyInfo"},
        // The names go in UTF-8, the subjects' encoding, with their byte length.
        {"GMDelTempKey",
         8,
         {kDn, "7"},
         {call("GMDelTempKey", hx(kDn) + "," + std::to_string(kDn.size()) + "," + hx("7"))},
         "0"},
        {"GetVersion", 9, {}, {}, "1.0.0.0"},
        {"CustInitCard", 10, {}, {call("CustInitCard", "null,0")}, "0"},
        {"ChangePin", 11, {}, {call("ChangePIN", "null,0,null,0")}, "0"},
        {"GetCharsetList", 12, {}, {call("GetCharset", "true,260")}, "GetCharset"},
        {"SetCharset", 13, {"UTF-8"}, {call("SetCharset", hx("UTF-8"))}, "0"},
        {"GetLanguageList", 14, {}, {call("GetDevLanguageList", "true,260")}, "GetDevLanguageList"},
        {"SetLanguage", 15, {"en_US"}, {call("SetDevLanguage", hx("en_US"))}, "0"},
        {"SetWarningMsg", 16, {"undefined"}, {call("SetWarningTips", hx(""))}, "0"},
        // A size query, then the signature into a buffer of the size it named.
        {"GMUsbKeySign",
         17,
         {kDn, "SM3", kXml, kShown, ""},
         {call("GMUsbKeySign", sign + "," + hx("") + "," + hx(kShown) + ",null,false,0"),
          call("GMUsbKeySign", sign + "," + hx("") + "," + hx(kShown) + ",null,true,13")},
         "GMUsbKeySign"},
        {"GMUsbKeySignFile",
         18,
         {kDn, "SM3", kXml, kShown, "/tmp/a.txt", "/tmp/a.p7"},
         {call("GMUsbKeySign", sign + "," + hx("/tmp/a.txt") + "," + hx(kShown) + "," +
                                   hx("/tmp/a.p7") + ",false,null")},
         "0"},
        {"GMCreatePKCS10",
         19,
         {"req"},
         {call("GMCreatePKCS10", hx("req") + ",true,32768")},
         "GMCreatePKCS10"},
        {"GMWritePKCS7", 20, {"MIIB"}, {call("GMWritePKCS7_Enc", hx("MIIB") + ",null,null")}, "0"},
        {"GMWritePKCS7_Enc",
         21,
         {"undefined", "enc", "rand"},
         {call("GMWritePKCS7_Enc", "null," + hx("enc") + "," + hx("rand"))},
         "0"},
        {"GMGetTemKey", 22, {}, {call("GMGetTemKey", "true,260")}, "GMGetTemKey"},
        {"GMBankEncGetRand", 23, {}, {call("GMBankGetRand", "true,260")}, "GMBankGetRand"},
        {"GMGetPKCS7", 24, {}, {call("GMGetPKCS7", "true,32768")}, "GMGetPKCS7"},
        {"GMJudgeAndDelOlderDN", 25, {}, {call("GMJudgeAndDelOlderDN", "0")}, "0"},
        {"GetCSPInfo", 26, {"ignored"}, {call("GetCSPInfo", "true,260")}, "GetCSPInfo"},
        {"GetPublicKeyNum", 27, {}, {call("GetPublicKeyNum", "0")}, "3"},
        {"RegisterCert", 28, {}, {call("RegisterCert")}, "0"},
        {"UnRegisterCert", 29, {}, {call("UnRegisterCert")}, "0"},
        {"NSChooseFileExt", 30, {}, {call("ChooseFileExt", "true,2048")}, "ChooseFileExt"},
        {"NSFileToTokenExt",
         31,
         {"/tmp/f"},
         {call("FileToTokenExt", hx("/tmp/f") + ",true,2048")},
         "FileToTokenExt"},
        {"GMUsbKeySignFileExt",
         32,
         {kDn, "SM3", kXml, kShown, "tok"},
         {call("GMUsbKeySignFileExt", sign + "," + hx(kShown) + "," + hx("tok") + ",true,8192")},
         "GMUsbKeySignFileExt"},
        // 5.9 rounds as automation rounds; the buffer is the maximum + 64.
        {"GetSignFileContent",
         33,
         {"tok", "100", "5.9"},
         {call("GetSignFileContent", hx("tok") + ",100,6,true,164")},
         "GetSignFileContent"},
    };
    ASSERT_EQ(rows.size(), 33u);
    IDispatch* object = create<IDispatch>(IID_IDispatch);
    const std::size_t bstrsBefore = platform::liveBstrCount();
    for (const MethodRow& row : rows) {
        SCOPED_TRACE(row.method);
        // Names are looked up without regard to case.
        std::string lower = row.method;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        std::u16string name = tools::utf16Of(lower);
        LPOLESTR names[] = {name.data()};
        DISPID id = 0;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        EXPECT_EQ(id, row.id);

        const tools::CallOutcome outcome = invoke(row.method, row.args);
        EXPECT_EQ(outcome.hr, S_OK) << outcome.description;
        EXPECT_EQ(outcome.result, row.result);
        EXPECT_EQ(takeCalls(), row.calls);
    }
    EXPECT_EQ(platform::liveBstrCount(), bstrsBefore);
    object->Release();
}

// A script host's own Automation types, written from the published x64
// layout and not from our header: a VARIANT is 24 bytes, its tag at 0 and
// its value at 8, sized by the record form's two pointers.
namespace host {
struct Variant {
    uint16_t vt;
    uint16_t reserved[3];
    union {
        int64_t i8;  // any integer or currency, little-endian
        float r4;
        char16_t* bstr;
        void* record[2];
    } value;
};
static_assert(sizeof(Variant) == 24 && offsetof(Variant, value) == 8);
struct DispParams {
    Variant* args;
    int32_t* named;
    uint32_t count;
    uint32_t namedCount;
};
struct ExcepInfo {
    uint16_t code[2];
    char16_t* texts[3];  // source, description, help file
    uint32_t helpContext;
    void* reserved[2];
    int32_t scode;
};
static_assert(sizeof(ExcepInfo) == 64 && offsetof(ExcepInfo, scode) == 56);
}  // namespace host

TEST_F(ControlMethodsTest, AHostWithThePublishedX64LayoutGetsEveryArgumentThrough) {
    IDispatch* object = create<IDispatch>(IID_IDispatch);
    ASSERT_NE(object, nullptr);
    const std::u16string dn = tools::utf16Of(kDn);
    host::Variant text{VT_BSTR, {}, {}};
    text.value.bstr = SysAllocStringLen(dn.data(), static_cast<UINT>(dn.size()));
    host::Variant r4{VT_R4, {}, {}};
    r4.value.r4 = 0.25f;
    const auto number = [](VARTYPE vt, int64_t value) { return host::Variant{vt, {}, {value}}; };
    const std::string sign =
        hx(kDn) + "," + hx(kDn) + "," + hx("1234567890123") + ",13," + hx("0.25") + "," + hx("1.5");
    struct Call {
        DISPID id;
        std::vector<host::Variant> args;  // last first, as a script passes them
        HRESULT hr;
        std::vector<std::string> calls;
        UINT argError;  // of a failed coercion
    } calls[] = {
        // GMUsbKeySign(dn, hash, xml, keyMsg, newVal): the transaction text a
        // 64-bit integer, the shown text a currency, the path a float.
        {17,
         {r4, number(VT_CY, 15000), number(VT_I8, 1234567890123), text, text},
         S_OK,
         {call("GMUsbKeySign", sign + ",null,false,0"),
          call("GMUsbKeySign", sign + ",null,true,13")},
         0},
        // GetSignFileContent(token, max, offset): a maximum of 0 fails in the method.
        {33, {number(VT_I8, 1), number(VT_UI1, 0), text}, DISP_E_EXCEPTION, {}, 0},
        {33, {number(VT_I8, 1), number(VT_UI4, 4000000000), text}, DISP_E_OVERFLOW, {}, 1},
    };
    for (Call& c : calls) {
        SCOPED_TRACE(c.id);
        host::DispParams params{c.args.data(), nullptr, static_cast<uint32_t>(c.args.size()), 0};
        host::Variant result{};
        host::ExcepInfo exception{};
        UINT argError = 0;
        EXPECT_EQ(object->Invoke(c.id, IID_NULL, 0x409, DISPATCH_METHOD,
                                 reinterpret_cast<DISPPARAMS*>(&params),
                                 reinterpret_cast<VARIANT*>(&result),
                                 reinterpret_cast<EXCEPINFO*>(&exception), &argError),
                  c.hr);
        EXPECT_EQ(takeCalls(), c.calls);
        EXPECT_EQ(argError, c.argError);
        const BSTR answer = c.hr == S_OK ? result.value.bstr : exception.texts[1];
        EXPECT_EQ(tools::utf8Of(answer, SysStringLen(answer)), c.hr == S_OK ? "GMUsbKeySign"
                                                               : c.hr == DISP_E_OVERFLOW
                                                                   ? ""
                                                                   : "INVALID PARAMETER");
        EXPECT_EQ(exception.scode, c.hr == DISP_E_EXCEPTION ? kInvalidParameter.number() : 0);
        SysFreeString(answer);
    }
    SysFreeString(text.value.bstr);
    object->Release();
}

struct EdgeRow {
    const char* why;
    const char* method;
    std::vector<std::string> args;
    std::string script;
    std::vector<std::string> calls;
    std::string outcome;  // as com-call prints it
};

TEST_F(ControlMethodsTest, ArgumentChecksAndErrorDescriptions) {
    const std::string sign = signingArgs();
    const std::string invalid = "error -106 (0xFFFFFF96): INVALID PARAMETER";
    const std::string noMemory = "error -307 (0xFFFFFECD): MALLOC FAILED";
    const std::vector<EdgeRow> rows = {
        {"empty transaction text", "GMUsbKeySign", {kDn, "SM3", "", "k", ""}, "", {}, invalid},
        {"no transaction text",
         "GMUsbKeySign",
         {kDn, "SM3", "undefined", "k", ""},
         "",
         {},
         invalid},
        {"no attachment is a null path",
         "GMUsbKeySign",
         {kDn, "SM3", kXml, "undefined", "undefined"},
         "",
         {call("GMUsbKeySign", sign + ",null,null,null,false,0"),
          call("GMUsbKeySign", sign + ",null,null,null,true,13")},
         "GMUsbKeySign"},
        {"a failed size query is the answer",
         "GMUsbKeySign",
         {kDn, "SM3", kXml, "k", ""},
         R"({"GMUsbKeySign":{"sizeCode":-102}})",
         {call("GMUsbKeySign", sign + "," + hx("") + "," + hx("k") + ",null,false,0")},
         "error -102 (0xFFFFFF9A): NO DEVICE"},
        {"empty signature file path",
         "GMUsbKeySignFile",
         {kDn, "SM3", kXml, "k", "/tmp/a", ""},
         "",
         {},
         invalid},
        {"empty certificate", "GMWritePKCS7", {""}, "", {}, invalid},
        {"neither certificate nor key",
         "GMWritePKCS7_Enc",
         {"undefined", "undefined", "r"},
         "",
         {},
         invalid},
        {"one key query text missing", "GMGetPublicKeyC", {"1", "undefined", "r"}, "", {}, invalid},
        {"no deletion list", "GMDelTempKey", {"undefined", "undefined"}, "", {}, invalid},
        {"no chosen-file token",
         "GMUsbKeySignFileExt",
         {kDn, "SM3", kXml, "k", ""},
         "",
         {},
         invalid},
        {"no file path", "NSFileToTokenExt", {""}, "", {}, invalid},
        {"nothing to read", "GetSignFileContent", {"tok", "0", "0"}, "", {}, invalid},
        {"a buffer beyond an int",
         "GetSignFileContent",
         {"tok", "2147483647", "0"},
         "",
         {},
         noMemory},
        {"a buffer of no size", "GetSignFileContent", {"tok", "-64", "0"}, "", {}, noMemory},
        {"a negative maximum with room is the library's to judge",
         "GetSignFileContent",
         {"tok", "-10", "0"},
         "",
         {call("GetSignFileContent", hx("tok") + ",-10,0,true,54")},
         "GetSignFileContent"},
        {"retries left read as -200",
         "CustInitCard",
         {},
         R"({"CustInitCard":{"code":-203}})",
         {call("CustInitCard", "null,0")},
         "error -203 (0xFFFFFF35): VERIFY PIN RETRY"},
        {"-207 has no text",
         "ChangePin",
         {},
         R"({"ChangePIN":{"code":-207}})",
         {call("ChangePIN", "null,0,null,0")},
         "error -207 (0xFFFFFF31): Other Error"},
        {"-304 has no row",
         "RegisterCert",
         {},
         R"({"RegisterCert":{"code":-304}})",
         {call("RegisterCert")},
         "error -304 (0xFFFFFED0): Other Error"},
        // A huge maximum reserves the first room only, and more only as far as the piece needs.
        {"a refused token asked for 2,000,000,000 bytes",
         "GetSignFileContent",
         {"tok", "2000000000", "0"},
         R"({"GetSignFileContent":{"code":-341}})",
         {call("GetSignFileContent", hx("tok") + ",2000000000,0,true,65536")},
         "error -341 (0xFFFFFEAB): ERR TOKEN INFO"},
        {"a long piece asked for 2,000,000,000 bytes",
         "GetSignFileContent",
         {"tok", "2000000000", "0"},
         R"({"GetSignFileContent":{"length":70000}})",
         {call("GetSignFileContent", hx("tok") + ",2000000000,0,true,65536"),
          call("GetSignFileContent", hx("tok") + ",2000000000,0,true,70001")},
         orva::fake_api::fakeText(70000)},
        {"a text export's failure",
         "GetMediaID",
         {},
         R"({"GetDevSN":{"code":-102}})",
         {call("GetDevSN", "true,260")},
         "error -102 (0xFFFFFF9A): NO DEVICE"},
    };
    invoke("SetCharset", {"UTF-8"});
    takeCalls();
    const std::size_t bstrsBefore = platform::liveBstrCount();
    for (const EdgeRow& row : rows) {
        SCOPED_TRACE(row.why);
        script(row.script.empty() ? "{}" : row.script);
        std::string line;
        tools::describeOutcome(invoke(row.method, row.args), &line);
        EXPECT_EQ(line, row.outcome);
        EXPECT_EQ(takeCalls(), row.calls);
    }
    EXPECT_EQ(platform::liveBstrCount(), bstrsBefore);
}

TEST_F(ControlMethodsTest, TheCharsetChoosesTheTransactionTextsCodePage) {
    struct Row {
        const char* charset;
        int libraryAnswer;
        std::string xml;  // the bytes the library receives afterwards
    };
    const std::vector<Row> rows = {
        {"GB18030", 0, kXmlGb}, {"CP_ACP", 0, kXml},     {"GBK", 0, kXmlGb},
        {"UTF-8", 0, kXml},     {"GB18030", -106, kXml},  // refused: the setting stays
        {"gbk", 0, kXmlGb},     {"Big5", 0, kXml},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.charset);
        script(R"({"SetCharset":{"code":)" + std::to_string(row.libraryAnswer) + "}}");
        invoke("SetCharset", {row.charset});
        takeCalls();
        invoke("GMUsbKeySignFile", {"CN=A", "SM3", kXml, "undefined", "/a", "/b"});
        EXPECT_EQ(takeCalls(),
                  std::vector<std::string>{
                      call("GMUsbKeySign", hx("CN=A") + "," + hx("SM3") + "," + hx(row.xml) + "," +
                                               std::to_string(row.xml.size()) + "," + hx("/a") +
                                               ",null," + hx("/b") + ",false,null")});
    }
}

// Errors as a vtable caller sees them: the HRESULT and the thread's error information.
std::string takeErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) {
        return "<none>";
    }
    BSTR description = nullptr;
    info->GetDescription(&description);
    info->Release();
    std::string text = tools::utf8Of(description, SysStringLen(description));
    SysFreeString(description);
    return text;
}

TEST_F(ControlMethodsTest, VtableCallersGetCodesPresetsAndDescriptions) {
    Iorva_usbkey* control = create<Iorva_usbkey>(IID_Iorva_usbkey);
    ASSERT_NE(control, nullptr);
    // A null [out,retval]: kInvalidParameter, nothing called.
    EXPECT_EQ(control->GetMediaID(nullptr), kInvalidParameter);
    EXPECT_EQ(takeErrorDescription(), "INVALID PARAMETER");
    EXPECT_EQ(control->GMDelTempKey(nullptr, nullptr, nullptr), kInvalidParameter);
    EXPECT_EQ(takeCalls(), std::vector<std::string>{});

    // No BSTR for the result: kMallocFailed, the empty preset stays.
    BSTR text = nullptr;
    platform::failBstrAllocations(1, 1);
    EXPECT_EQ(control->GetMediaID(&text), kMallocFailed);
    platform::failBstrAllocations(0, 0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 0u);
    SysFreeString(text);
    EXPECT_EQ(takeErrorDescription(), "MALLOC FAILED");

    // Nothing deleted: S_FALSE and 1, and no error information.
    script(R"({"GMJudgeAndDelOlderDN":{"code":1}})");
    INT count = 0;
    EXPECT_EQ(control->GMJudgeAndDelOlderDN(&count), S_FALSE);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(takeErrorDescription(), "<none>");

    // A failing export leaves its code in the INT and the description.
    script(R"({"SetDevLanguage":{"code":-313}})");
    BSTR language = SysAllocString(u"fr_FR");
    EXPECT_EQ(control->SetLanguage(language, &count), -313);
    EXPECT_EQ(count, -313);
    EXPECT_EQ(takeErrorDescription(), "ERR GET LANLIST");
    SysFreeString(language);
    control->Release();
}

TEST_F(ControlMethodsTest, LateBindingRefusesWhatAScriptCannotMean) {
    IDispatch* object = create<IDispatch>(IID_IDispatch);
    ASSERT_NE(object, nullptr);
    std::u16string unknown = u"NoSuchMethod";
    LPOLESTR names[] = {unknown.data()};
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);

    const std::size_t bstrsBefore = platform::liveBstrCount();
    VARIANT args[3];
    for (VARIANT& arg : args) {
        VariantInit(&arg);
    }
    DISPPARAMS two{args, nullptr, 2, 0};
    EXPECT_EQ(object->Invoke(33, IID_NULL, 0, DISPATCH_METHOD, &two, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    DISPID named = 0;
    DISPPARAMS withNames{args, &named, 1, 1};
    EXPECT_EQ(
        object->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &withNames, nullptr, nullptr, nullptr),
        DISP_E_NONAMEDARGS);
    // GetSignFileContent(token, null, 1): the maximum (second from the end) cannot be an int.
    args[0].vt = VT_I4;
    args[0].lVal = 1;
    args[1].vt = VT_NULL;
    args[2].vt = VT_BSTR;
    args[2].bstrVal = SysAllocString(u"tok");
    DISPPARAMS three{args, nullptr, 3, 0};
    UINT argError = 99;
    EXPECT_EQ(object->Invoke(33, IID_NULL, 0, DISPATCH_METHOD, &three, nullptr, nullptr, &argError),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 1u);
    args[1].vt = VT_R8;
    args[1].dblVal = 4e9;
    EXPECT_EQ(object->Invoke(33, IID_NULL, 0, DISPATCH_METHOD, &three, nullptr, nullptr, &argError),
              DISP_E_OVERFLOW);
    // A failing method, with and without a place for the result: the empty
    // text it leaves is freed, and the exception carries the code.
    EXCEPINFO exception{};
    args[1].dblVal = 0;
    EXPECT_EQ(
        object->Invoke(33, IID_NULL, 0, DISPATCH_METHOD, &three, nullptr, &exception, nullptr),
        DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, kInvalidParameter);
    EXPECT_EQ(tools::utf8Of(exception.bstrDescription, SysStringLen(exception.bstrDescription)),
              "INVALID PARAMETER");
    SysFreeString(exception.bstrDescription);
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(object->Invoke(33, IID_NULL, 0, DISPATCH_METHOD, &three, &result, nullptr, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(object->Invoke(9, IID_NULL, 0, DISPATCH_METHOD, &three, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(object->Invoke(9, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              S_OK);
    VariantClear(&args[2]);
    EXPECT_EQ(platform::liveBstrCount(), bstrsBefore);

    // The type information documents from the same table.
    ITypeInfo* info = nullptr;
    ASSERT_EQ(object->GetTypeInfo(0, 0, &info), S_OK);
    BSTR name = nullptr;
    BSTR help = nullptr;
    EXPECT_EQ(info->GetDocumentation(17, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(tools::utf8Of(help, SysStringLen(help)), "method GMUsbKeySign");
    SysFreeString(name);
    SysFreeString(help);
    EXPECT_EQ(info->GetDocumentation(DISPID_UNKNOWN, nullptr, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(tools::utf8Of(help, SysStringLen(help)), "Iorva_usbkey Interface");
    SysFreeString(help);
    info->Release();
    object->Release();
}

}  // namespace
}  // namespace orva::control::test
