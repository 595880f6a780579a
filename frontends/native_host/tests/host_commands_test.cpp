// Every command's keys, their classes and the export call they end in, seen
// by the stand-in library through the built host.

#include <string>
#include <vector>

#include "host_test_support.h"

namespace orva::native_host::test {
namespace {

using HostCommandsTest = FakeApiHostTest;

const std::string kChinese = "\xe4\xb8\xad\xe6\x96\x87";  // 中文 in UTF-8
const std::string kChineseGb = "\xd6\xd0\xce\xc4";        // and in GB18030

struct TextCommand {
    const char* command;
    const char* fn;
    int bufferSize;
};

TEST_F(HostCommandsTest, QueriesCallTheirExportWithTheirBufferSize) {
    const TextCommand commands[] = {
        {"GetMediaID", "GetDevSN", 1024},
        {"GetDriverVersion", "GetDriverVer", 256},
        {"GMGetAdminKeyInfo", "GMGetAdminKeyInfo", 1024},
        {"GetPublicKeyC", "GetPublicKeyC", 8192},
        {"GMGetCertDN", "GMGetCertDN", 1024},
        {"GetCharsetList", "GetCharset", 260},
        {"GetLanguageList", "GetDevLanguageList", 260},
        {"GMGetTemKey", "GMGetTemKey", 1024},
        {"GMBankEncGetRand", "GMBankGetRand", 256},
        {"GMGetPKCS7", "GMGetPKCS7", 8192},
        {"NSChooseFileExt", "ChooseFileExt", 2048},
        {"GetCSPInfo", "GetCSPInfo", 256},
    };
    for (const TextCommand& c : commands) {
        EXPECT_EQ(resp(c.command), c.fn) << c.command;
        const ApiCall call = onlyCall();
        EXPECT_EQ(call.fn, c.fn);
        EXPECT_EQ(call.args, "[true," + std::to_string(c.bufferSize) + "]") << c.command;
    }
}

TEST_F(HostCommandsTest, ATextIsTakenUpToItsFirstNulAndNeverPastTheBuffer) {
    // 1023 characters and the NUL fill the 1024 bytes; one more is kBufferTooSmall.
    script(R"({"GetDevSN":{"length":1023},"GMGetTemKey":{"length":1024}})");
    EXPECT_EQ(resp("GetMediaID").size(), 1023u);
    EXPECT_EQ(resp("GMGetTemKey"), "-303");
}

TEST_F(HostCommandsTest, CodeAndNumberCommands) {
    EXPECT_EQ(resp("CustInitCard"), "0");
    EXPECT_EQ(onlyCall().args, "[null,0]");
    EXPECT_EQ(resp("ChangePin"), "0");
    EXPECT_EQ(onlyCall().args, "[null,0,null,0]");
    EXPECT_EQ(resp("RegisterCert"), "0");
    EXPECT_EQ(onlyCall().fn, "RegisterCert");
    script(R"({"UnRegisterCert":{"code":-320},"GetPublicKeyNum":{"count":3}})");
    EXPECT_EQ(resp("UnRegisterCert"), "-320");
    EXPECT_EQ(onlyCall().fn, "UnRegisterCert");
    EXPECT_EQ(resp("GetPublicKeyNum"), "3");
    EXPECT_EQ(onlyCall().args, "[0]");  // n is 0 when the export gets it
    script(R"({"GetPublicKeyNum":{"code":-102,"count":3}})");
    EXPECT_EQ(resp("GetPublicKeyNum"), "-102");
    takeCalls();
    for (const auto& [code, answer] :
         std::vector<std::pair<int, std::string>>{{0, "0"}, {1, "1"}, {-405, "-405"}}) {
        script(R"({"GMJudgeAndDelOlderDN":{"code":)" + std::to_string(code) + "}}");
        EXPECT_EQ(resp("GMJudgeAndDelOlderDN"), answer);
        EXPECT_EQ(onlyCall().args, "[0]");
    }
}

TEST_F(HostCommandsTest, TextKeysMustBeNonEmptyStrings) {
    EXPECT_EQ(resp("GMCreatePKCS10", R"("CertReq":"req")"), "GMCreatePKCS10");
    EXPECT_EQ(onlyCall().args, "[\"" + hex("req") + "\",true,32768]");
    for (const char* bad :
         {"", R"("CertReq":"")", R"("CertReq":5)", R"("CertReq":null)", R"("CertReq":["a"])"}) {
        EXPECT_EQ(resp("GMCreatePKCS10", bad), "-106") << bad;
    }
    EXPECT_TRUE(takeCalls().empty());

    EXPECT_EQ(resp("GMGetPublicKey", R"("readtype":"1")"), "GMGetPubkeyInfo");
    EXPECT_EQ(onlyCall().args, "[\"31\",true,8192]");
    EXPECT_EQ(resp("GMGetPublicKeyC", R"("KeyType":"2","DnOrID":"CN=a","Base64SerRand":"cg==")"),
              "GMGetPubkeyInfoC");
    EXPECT_EQ(onlyCall().args,
              "[\"32\",\"" + hex("CN=a") + "\",\"" + hex("cg==") + "\",true,8192]");
    EXPECT_EQ(resp("GMGetPublicKeyC", R"("KeyType":"2","DnOrID":"","Base64SerRand":"cg==")"),
              "-106");
    EXPECT_EQ(resp("SetLanguage", R"("Language":"en_US")"), "0");
    EXPECT_EQ(onlyCall().args, "[\"" + hex("en_US") + "\"]");
    EXPECT_EQ(resp("SetLanguage", R"("Language":"")"), "-106");
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(HostCommandsTest, StringAndPresentKeys) {
    EXPECT_EQ(resp("SetWarningMsg", R"("WarningMsg":"")"), "0");
    EXPECT_EQ(onlyCall().args, "[\"\"]");
    EXPECT_EQ(resp("SetWarningMsg", R"("WarningMsg":1)"), "-106");
    EXPECT_EQ(resp("GMWritePKCS7", R"("SignCertP7":"p7")"), "0");
    EXPECT_EQ(onlyCall().args, "[\"" + hex("p7") + "\",null,null]");
    // present: any value; a non-string passes no text.
    EXPECT_EQ(resp("GMWritePKCS7_Enc", R"("SignCertP7":"p7","encData":"e","servRand":false)"), "0");
    EXPECT_EQ(onlyCall().args, "[\"" + hex("p7") + "\",\"65\",null]");
    EXPECT_EQ(resp("GMWritePKCS7_Enc", R"("SignCertP7":"p7","encData":"e")"), "-106");
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(HostCommandsTest, DelTempKeyNeedsAtLeastOneList) {
    EXPECT_EQ(resp("GMDelTempKey", R"("CertDn":"","PublicKeyId":"")"), "-106");
    EXPECT_EQ(resp("GMDelTempKey", R"("CertDn":"CN=a")"), "-106");
    EXPECT_TRUE(takeCalls().empty());
    EXPECT_EQ(resp("GMDelTempKey", R"("CertDn":"","PublicKeyId":"01")"), "0");
    EXPECT_EQ(onlyCall().args, "[\"\",0,\"3031\"]");
    EXPECT_EQ(resp("GMDelTempKey", R"("CertDn":"CN=a","PublicKeyId":"")"), "0");
    EXPECT_EQ(onlyCall().args, "[\"" + hex("CN=a") + "\",4,\"\"]");
}

TEST_F(HostCommandsTest, SetCharsetKeepsOnlyANameTheLibraryTakes) {
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"GB18030X")"), "-106");  // 8 bytes
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"")"), "-106");
    EXPECT_TRUE(takeCalls().empty());
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"UTF-8")"), "0");
    EXPECT_EQ(onlyCall().args, "[\"" + hex("UTF-8") + "\"]");
    // A name the library refuses leaves "UTF-8": texts go as received.
    script(R"({"SetCharset":{"code":-106}})");
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"xyz")"), "-106");
    takeCalls();
    EXPECT_EQ(resp("GMUsbKeySignFile", R"("SignerDN":"","HashName":null,"xmlMsg":")" + kChinese +
                                           R"(","keyMsg":"k","file":"","fileP7":"")"),
              "0");
    EXPECT_EQ(onlyCall().args,
              "[\"\",null,\"" + hex(kChinese) + "\",6,null,\"6b\",null,false,null]");
}

std::string signMembers(const std::string& xml, const std::string& display,
                        const std::string& more = R"("NewVal":"")") {
    return R"("SignerDN":"CN=Zhang San","HashName":"SM3","xmlMsg":")" + xml + R"(","keyMsg":")" +
           display + "\"," + more;
}

TEST_F(HostCommandsTest, TransactionTextsFollowTheCharsetRule) {
    script(R"({"GMUsbKeySign":{"text":"p7"}})");
    const std::string dn = hex("CN=Zhang San");
    // GBK at start: GB18030 bytes, and the length without the NUL.
    EXPECT_EQ(resp("GMUsbKeySign", signMembers(kChinese, kChinese)), "p7");
    std::vector<ApiCall> calls = takeCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args, "[\"" + dn + "\",\"" + hex("SM3") + "\",\"" + hex(kChineseGb) +
                                 "\",4,null,\"" + hex(kChineseGb) + "\",null,false,0]");
    // "utf-8" in any case means UTF-8, as the library takes it.
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"utf-8")"), "0");
    takeCalls();
    EXPECT_EQ(resp("GMUsbKeySign", signMembers(kChinese, kChinese)), "p7");
    calls = takeCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args, "[\"" + dn + "\",\"" + hex("SM3") + "\",\"" + hex(kChinese) +
                                 "\",6,null,\"" + hex(kChinese) + "\",null,false,0]");
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"GB18030")"), "0");
    takeCalls();
    EXPECT_EQ(resp("GMUsbKeySign", signMembers(kChinese, "ok")), "p7");
    calls = takeCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[1].args.find(hex(kChineseGb) + "\",4,"), std::string::npos);
}

TEST_F(HostCommandsTest, TextsThatDoNotConvertAnswer307BeforeLaterKeysAreLookedAt) {
    // Not UTF-8: no GB18030 text can be made of it.
    EXPECT_EQ(resp("GMUsbKeySign", signMembers("\xff\xfe", "k", R"("x":1)")), "-307");
    // An earlier key decides: the missing NewVal comes after the bad text.
    EXPECT_EQ(resp("GMUsbKeySign", signMembers("ok", "k", R"("x":1)")), "-106");
    EXPECT_EQ(resp("GMUsbKeySign", signMembers("", "k")), "-106");
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(HostCommandsTest, PathsGoToTheAnsiCodePageOrFailWith307) {
    setAnsiCodePage("936");
    EXPECT_EQ(resp("NSFileToTokenExt", R"("path":"/tmp/)" + kChinese + R"(.txt")"),
              "FileToTokenExt");
    EXPECT_EQ(onlyCall().args, "[\"" + hex("/tmp/" + kChineseGb + ".txt") + "\",true,2048]");
    // GBK has no U+1F600: never a token for some other file, nor none at all.
    EXPECT_EQ(resp("NSFileToTokenExt", R"("path":"/tmp/\ud83d\ude00.txt")"), "-307");
    EXPECT_EQ(resp("GMUsbKeySign", signMembers("x", "k", R"("NewVal":"/tmp/\ud83d\ude00")")),
              "-307");
    EXPECT_TRUE(takeCalls().empty());
    // "" and values that are not strings name no file.
    EXPECT_EQ(resp("NSFileToTokenExt", R"("path":"")"), "FileToTokenExt");
    EXPECT_EQ(onlyCall().args, "[null,true,2048]");
    EXPECT_EQ(resp("NSFileToTokenExt", R"("path":{})"), "FileToTokenExt");
    EXPECT_EQ(onlyCall().args, "[null,true,2048]");
    EXPECT_EQ(resp("NSFileToTokenExt", ""), "-106");
}

TEST_F(HostCommandsTest, UsbKeySignAsksForTheSizeThenSignsWithABufferOfIt) {
    script(R"({"GMUsbKeySign":{"text":"MIIB","sizeLength":5000}})");
    EXPECT_EQ(resp("GMUsbKeySign", signMembers("x", "k", R"("NewVal":5)")), "MIIB");
    std::vector<ApiCall> calls = takeCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args, "[\"" + hex("CN=Zhang San") + "\",\"" + hex("SM3") +
                                 "\",\"78\",1,null,\"6b\",null,false,0]");
    EXPECT_EQ(calls[1].args, "[\"" + hex("CN=Zhang San") + "\",\"" + hex("SM3") +
                                 "\",\"78\",1,null,\"6b\",null,true,5000]");
    // A failed size query is the answer; nothing is shown.
    script(R"({"GMUsbKeySign":{"sizeCode":-405}})");
    EXPECT_EQ(resp("GMUsbKeySign", signMembers("x", "k")), "-405");
    EXPECT_EQ(takeCalls().size(), 1u);
    // The second call's failure is the answer.
    script(R"({"GMUsbKeySign":{"sizeLength":2,"text":"longer"}})");
    EXPECT_EQ(resp("GMUsbKeySign", signMembers("x", "k")), "-303");
    // A size query that names no size broke the rules: no zero-byte buffer.
    script(R"({"GMUsbKeySign":{"sizeLength":0}})");
    EXPECT_EQ(resp("GMUsbKeySign", signMembers("x", "k")), "-300");
    EXPECT_EQ(takeCalls().size(), 3u);
    // HashName must be present, but may be anything.
    EXPECT_EQ(resp("GMUsbKeySign", R"("SignerDN":"","xmlMsg":"x","keyMsg":"k","NewVal":"")"),
              "-106");
}

TEST_F(HostCommandsTest, UsbKeySignFileWritesToThePagesFileInOneCall) {
    EXPECT_EQ(resp("GMUsbKeySignFile", signMembers("x", "k", R"("file":"/a","fileP7":"/a.p7")")),
              "0");
    EXPECT_EQ(onlyCall().args, "[\"" + hex("CN=Zhang San") + "\",\"" + hex("SM3") +
                                   "\",\"78\",1,\"" + hex("/a") + "\",\"6b\",\"" + hex("/a.p7") +
                                   "\",false,null]");
    EXPECT_EQ(resp("GMUsbKeySignFile", signMembers("x", "k", R"("file":"/a")")), "-106");
}

TEST_F(HostCommandsTest, SignFileExtSizesItsBufferFromTheConvertedCount) {
    const std::string members = R"("SignerDN":"","HashName":"","xmlMsg":")" + kChinese +
                                R"(","keyMsg":"k","chooseFileToken":"T")";
    // GBK: 4 bytes and the NUL, n = 5: 3 * 5 / 2 + 4096.
    EXPECT_EQ(resp("GMUsbKeySignFileExt", members), "GMUsbKeySignFileExt");
    EXPECT_EQ(onlyCall().args, "[\"\",\"\",\"" + hex(kChineseGb) + "\",4,\"6b\",\"54\",true,4103]");
    // UTF-8 passes as received: n = 6, without the NUL.
    EXPECT_EQ(resp("SetCharset", R"("CharSet":"UTF-8")"), "0");
    takeCalls();
    EXPECT_EQ(resp("GMUsbKeySignFileExt", members), "GMUsbKeySignFileExt");
    EXPECT_EQ(onlyCall().args, "[\"\",\"\",\"" + hex(kChinese) + "\",6,\"6b\",\"54\",true,4105]");
    EXPECT_EQ(resp("GMUsbKeySignFileExt", R"("SignerDN":"","HashName":"","xmlMsg":"x",)"
                                          R"("keyMsg":"k","chooseFileToken":"")"),
              "-106");
}

TEST_F(HostCommandsTest, SignFileContentReadsItsNumbersStrictly) {
    const auto members = [](const std::string& max, const std::string& offset = "0") {
        return R"("FileToken":"T","MaxLength":)" + max + R"(,"FileOffset":)" + offset;
    };
    for (const char* same : {"4096", "4096.7", "\"4096\""}) {
        EXPECT_EQ(resp("GetSignFileContent", members(same, "\"12\"")), "GetSignFileContent");
        EXPECT_EQ(onlyCall().args, "[\"54\",4096,12,true,4160]") << same;
    }
    for (const char* bad : {"\"+4096\"", "\" 4096\"", "\"4096a\"", "\"\"", "true", "null", "0",
                            "-0.5", "1e10", "\"99999999999\"", "-5", "1e400"}) {
        EXPECT_EQ(resp("GetSignFileContent", members(bad)), "-106") << bad;
    }
    EXPECT_EQ(resp("GetSignFileContent", members("1", "\"x\"")), "-106");
    EXPECT_EQ(resp("GetSignFileContent", R"("FileToken":"T","MaxLength":1)"), "-106");
    EXPECT_TRUE(takeCalls().empty());
    // The largest int: its buffer is counted in 64 bits, and cannot be had.
    EXPECT_EQ(resp("GetSignFileContent", members("2147483647")), "-307");
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(HostCommandsTest, ChooseFileAnswersItsPathInUtf8) {
    setAnsiCodePage("936");
    script(R"({"ChooseFile":{"text":""}})");
    EXPECT_EQ(resp("NSChooseFile"), "");
    EXPECT_EQ(onlyCall().args, "[true,260]");
    folder_.write("fake/script.json", "{\"ChooseFile\":{\"text\":\"/tmp/" + kChineseGb + "\"}}");
    EXPECT_EQ(resp("NSChooseFile"), "/tmp/" + kChinese);
    // A lead byte with no trail byte: not a path in the ANSI code page.
    folder_.write("fake/script.json", "{\"ChooseFile\":{\"text\":\"/tmp/\xd6\"}}");
    EXPECT_EQ(resp("NSChooseFile"), "-307");
}

}  // namespace
}  // namespace orva::native_host::test
