// The conformance table. Every case starts on a fresh software key
// SK0000000001 without containers, the person at the key typing PIN 12345678
// and confirming, ORVA_ACP 65001 unless the case sets it. A step's answer is
// the same through every front end unless the step names a difference. Only
// the charset is put back after a case: a case that checks the warning or the
// language sets them itself, since a library kept loaded keeps them.

#include <gtest/gtest.h>

#include "conformance.h"
#include "orva_result_codes.h"

namespace orva::conformance {

namespace {

using S = std::string;
using orva::testing::shellQuote;
constexpr FrontEndKind kHost = FrontEndKind::host;
constexpr FrontEndKind kPlugin = FrontEndKind::plugin;
constexpr FrontEndKind kControl = FrontEndKind::control;

const S kSn = "SK0000000001";
const S kZhangSan = "CN=Zhang San,OU=Unit,O=Bank";
const S kZhang = "CN=\xe5\xbc\xa0\xe4\xb8\x89,O=Bank";  // "CN=张三,O=Bank"
const S kLiSi = "CN=Li Si,OU=Unit,O=Bank";
const S kWang = "CN=Wang Wu,OU=Branch,O=Bank";
// "<T>中文</T>" and "付款 100.00 元", in UTF-8 and in GB18030.
const S kXml = "<T>\xe4\xb8\xad\xe6\x96\x87</T>";
const S kXmlGb = "<T>\xd6\xd0\xce\xc4</T>";
const S kDisplay = "\xe4\xbb\x98\xe6\xac\xbe 100.00 \xe5\x85\x83";
const S kDisplayGb = "\xb8\xb6\xbf\xee 100.00 \xd4\xaa";
const S kWarning = "\xe6\xa0\xb8\xe5\xaf\xb9 Check";  // "核对 Check"
const S kBase64 = "[A-Za-z0-9+/=]";

constexpr std::string_view kPluginCountsTheNul =
    "the plug-in hands a GB18030 text on with its NUL, counted in its length";
constexpr std::string_view kControlTakesNull =
    "the control takes a null BSTR for none; the host wants the member, the plug-in a String";
constexpr std::string_view kHostWantsIt =
    "the host wants the member, and a text not empty; the plug-in and the control pass it on";
constexpr std::string_view kHostChoosesPaths = "only the host hands out a chosen file's path";

Step step(S command, std::vector<PageArg> args, Check expect,
          std::vector<Difference> differences = {}) {
    return {{std::move(command), std::move(args)}, "", std::move(expect), std::move(differences)};
}
Step meanwhile(S command, Check expect = {}) {
    return {{}, std::move(command), std::move(expect), {}};
}
Step provision(const S& alg, const S& subject, const S& more = "--type 3") {
    return meanwhile("softkey provision --sn " + kSn + " --alg " + alg + " --subject " +
                     shellQuote(subject) + " " + more);
}

std::vector<PageArg> signArgs(const S& signer, const S& hash, PageValue newVal = S()) {
    return {{"SignerDN", signer},
            {"HashName", hash},
            {"xmlMsg", kXml},
            {"keyMsg", kDisplay},
            {"NewVal", std::move(newVal)}};
}

// A chosen file's token signed by the one signing certificate.
std::vector<PageArg> tokenSignArgs(const S& token) {
    return {{"SignerDN", S()},
            {"HashName", S("SM3")},
            {"xmlMsg", kXml},
            {"keyMsg", kDisplay},
            {"chooseFileToken", token}};
}

// Signed by SM2 over the text in GB18030, which the key was told.
Step signedInGb18030(int charset) {
    return step("GMUsbKeySign", signArgs(kZhangSan, "SM3"),
                all({sm2Signed(transactionElement(kXmlGb)), shown("signed", charset, kDisplayGb)}),
                {{kPlugin,
                  all({sm2Signed(transactionElement(kXmlGb + S(1, '\0'))),
                       shown("signed", charset, kDisplayGb)}),
                  kPluginCountsTheNul}});
}

// The signature file a token names, read in pieces of 100 characters up to
// the last ("MARK=2"): joined, the file itself, signed over the transaction.
Check readInPieces(S token, S file) {
    return [token, file](Page& page, const S& first) {
        S joined;
        S piece = first;
        for (int32_t offset = 100; piece.rfind("MARK=", 0) == 0; offset += 100) {
            joined += piece.substr(piece.find("||CONTENT=") + 10);
            if (piece[5] == '2' || offset > 100'000) {
                break;
            }
            piece = page.call(
                {"GetSignFileContent",
                 {{"FileToken", "{" + token + "}"}, {"MaxLength", 100}, {"FileOffset", offset}}});
        }
        ASSERT_EQ(piece.substr(0, 6), "MARK=2") << piece;
        EXPECT_EQ(joined, page.read(page.expand("{" + file + "}")));
        sm2Signed(transactionElement(kXml))(page, joined);
    };
}

// The signature file is named after the signer "张三", in the ANSI code page
// on disk and in UTF-8 in the token the page gets.
Case signatureFileInCodePage(const S& acp, const S& onDisk) {
    return {"SignatureFileNamedInCodePage" + acp,
            {provision("sm2", "CN=\xe5\xbc\xa0\xe4\xb8\x89,OU=Unit,O=Bank"),
             meanwhile("printf A > a.txt"),
             step("NSFileToTokenExt", {{"path", S("{root}/a.txt")}}, keepField("TOKEN", "file")),
             step("GMUsbKeySignFileExt", tokenSignArgs("{file}"), keepField("FILENAME", "name")),
             meanwhile("printf '%s' '{name}'",
                       matches("\xe5\xbc\xa0\xe4\xb8\x89\\.[0-9]{12}\\.[0-9]{6}\\.sig")),
             meanwhile("ls", contains(onDisk + "."))},
            {{"ORVA_ACP", acp}}};
}

std::vector<Case> makeCases() {
    return {
        {"DeviceAndSettings",
         {step("GetMediaID", {}, is(kSn)), step("GetDriverVersion", {}, is("1.0.0.0")),
          // The control reads its own file's version; the others answer a constant.
          step("GetVersion", {}, is("1.0.0.0")),
          step("GetCSPInfo", {{"DevSN", kSn}}, is("Korvane CSP ORVA V1.0||1.0.0.0")),
          step("GetCharsetList", {}, is("GBK||UTF-8||GB18030")),
          step("GetLanguageList", {}, is("zh_CN||en_US")),
          step("SetLanguage", {{"Language", S("en_US")}}, code(0)),
          step("SetWarningMsg", {{"WarningMsg", kDisplay}}, code(0)),
          step("SetCharset", {{"CharSet", S("KOI8-R")}}, code(kInvalidParameter)),
          meanwhile("softkey unplug " + kSn), step("GetMediaID", {}, code(kNoDevice))}},

        {"PinChangeAndInitialisation",
         {provision("sm2", kZhangSan), step("CustInitCard", {}, code(0)),
          step("GMGetCertDN", {}, is("")),  // the key was emptied
          meanwhile("softkey user --pin 12345678 --new-pin 87654321"),
          step("ChangePin", {}, code(0)), provision("sm2", kZhangSan),
          // The old PIN no longer opens the key; the new one does.
          meanwhile("softkey user --pin 12345678"),
          step("GMUsbKeySign", signArgs(kZhangSan, "SM3"),
               all({code(kSignFailed), shown("wrongPin")})),
          meanwhile("softkey user --pin 87654321"), signedInGb18030(1)}},

        // The key is told the charset the library was set to and gets the
        // texts in it, whatever the case of the name; a refused name changes
        // nothing.
        {"TransactionTextInEachCharset",
         {provision("sm2", kZhangSan), step("SetLanguage", {{"Language", S("en_US")}}, code(0)),
          step("SetWarningMsg", {{"WarningMsg", kWarning}}, code(0)), signedInGb18030(1),
          // The language's code and the warning in UTF-8, whatever the charset.
          meanwhile("tail -n 1 softkey/display.log",
                    all({contains("\"language\":2,"),
                         contains("\"warningBase64\":\"5qC45a+5IENoZWNr\"")})),
          step("SetCharset", {{"CharSet", S("GB18030")}}, code(0)), signedInGb18030(3),
          step("SetCharset", {{"CharSet", S("utf-8")}}, code(0)),
          step("GMUsbKeySign", signArgs(kZhangSan, "SM3"),
               all({sm2Signed(transactionElement(kXml)), shown("signed", 2, kDisplay)})),
          step("SetCharset", {{"CharSet", S("xyz")}}, code(kInvalidParameter)),
          step("GMUsbKeySign", signArgs(kZhangSan, "SM3"),
               all({sm2Signed(transactionElement(kXml)), shown("signed", 2, kDisplay)}))}},

        {"RsaSignatureAndTheUsersAnswers",
         {provision("sm2", kZhangSan), provision("rsa2048", kLiSi),
          step(
              "GMUsbKeySign", signArgs(kLiSi, "SHA256"), rsaSigned(transactionElement(kXmlGb)),
              {{kPlugin, rsaSigned(transactionElement(kXmlGb + S(1, '\0'))), kPluginCountsTheNul}}),
          step("GMUsbKeySign", signArgs("CN=Nobody", "SM3"), code(kNoMatchCertificate)),
          meanwhile("softkey user --pin 12345678 --button cancel"),
          step("GMUsbKeySign", signArgs(kZhangSan, "SM3"),
               all({code(kUserCancel), shown("cancelled")}))}},

        // Arguments left out or empty: where the front ends' own checks
        // differ, and what the library answers when they pass them on.
        {"ArgumentsLeftOutOrEmpty",
         {provision("sm2", kZhangSan),
          step("GMUsbKeySign", signArgs(kZhangSan, "SM3", {}), code(kInvalidParameter),
               {{kControl, sm2Signed(transactionElement(kXmlGb)), kControlTakesNull}}),
          step("GMUsbKeySign",
               {{"SignerDN", kZhangSan},
                {"HashName", {}},
                {"xmlMsg", kXml},
                {"keyMsg", kDisplay},
                {"NewVal", S()}},
               code(kInvalidParameter),
               {{kControl, sm2Signed(transactionElement(kXmlGb)), kControlTakesNull}}),
          step("SetWarningMsg", {{"WarningMsg", {}}}, code(0),
               {{kHost, code(kInvalidParameter), kHostWantsIt}}),
          step("GMDelTempKey", {{"CertDn", {}}, {"PublicKeyId", S("01")}},
               code(kNoMatchCertificate), {{kHost, code(kInvalidParameter), kHostWantsIt}}),
          step("GMWritePKCS7_Enc", {{"SignCertP7", S()}, {"encData", S()}, {"servRand", S()}},
               code(kAnalyzeCertError), {{kHost, code(kInvalidParameter), kHostWantsIt}}),
          step("GMUsbKeySign",
               {{"SignerDN", kZhangSan},
                {"HashName", S("SM3")},
                {"xmlMsg", kXml},
                {"keyMsg", S()},
                {"NewVal", S()}},
               code(kKeyShowNull), {{kHost, code(kInvalidParameter), kHostWantsIt}}),
          step("GMUsbKeySign", signArgs(kZhangSan, S(32, 'H')), code(kInvalidHashType),
               {{kPlugin, code(kInvalidParameter),
                 "the plug-in takes a hash name shorter than 32 bytes"}}),
          // A maximum length whose room with the 64 bytes beyond it no int holds.
          step("GetSignFileContent",
               {{"FileToken", S("x")}, {"MaxLength", 2147483600}, {"FileOffset", 0}},
               code(kMallocFailed)),
          // No transaction: refused by all (the library refuses a length of 0).
          step("GMUsbKeySign",
               {{"SignerDN", kZhangSan},
                {"HashName", S("SM3")},
                {"xmlMsg", S()},
                {"keyMsg", kDisplay},
                {"NewVal", S()}},
               code(kInvalidParameter))}},

        signatureFileInCodePage("65001", "\xe5\xbc\xa0\xe4\xb8\x89"),
        signatureFileInCodePage("936", "\xd5\xc5\xc8\xfd"),

        // A file signed into a signature file the page names, and through
        // tokens: one for a named file, replaced by the one the dialog chose.
        {"FilesSignedAndReadInPieces",
         {provision("sm2", kZhangSan), meanwhile("printf 'contract body' > contract.txt"),
          step("SetCharset", {{"CharSet", S("UTF-8")}}, code(0)),
          step("GMUsbKeySignFile",
               {{"SignerDN", kZhangSan},
                {"HashName", S("SM3")},
                {"xmlMsg", kXml},
                {"keyMsg", kDisplay},
                {"file", S("{root}/contract.txt")},
                {"fileP7", S("{root}/contract.p7")}},
               all({code(0), sm2Signed("Y29udHJhY3QgYm9keQ==", "contract.p7")})),
          step("NSFileToTokenExt", {{"path", S("{root}/contract.txt")}},
               keepField("TOKEN", "named")),
          step("NSChooseFileExt", {},
               all({fieldIs("FILEPATH", "{root}/contract.txt"), keepField("TOKEN", "chosen")})),
          step("GMUsbKeySignFileExt", tokenSignArgs("{chosen}"),
               all({keepField("TOKEN", "signature"), keepField("FILENAME", "signatureFile")})),
          step("GetSignFileContent",
               {{"FileToken", S("{signature}")}, {"MaxLength", 100}, {"FileOffset", 0}},
               readInPieces("signature", "signatureFile")),
          step("GetSignFileContent",
               {{"FileToken", S("{named}")}, {"MaxLength", 100}, {"FileOffset", 0}},
               code(kTokenInfoError))},
         {{"ORVA_FILE_DIALOG", "printf '%s\\n' {root}/contract.txt"}}},

        // A signature file of more than 1,000,000 characters read whole.
        {"ALongSignatureReadWhole",
         {provision("sm2", kZhangSan),
          meanwhile("head -c 800000 /dev/zero | tr '\\0' a > long.txt"),
          step("NSFileToTokenExt", {{"path", S("{root}/long.txt")}}, keepField("TOKEN", "file")),
          step("GMUsbKeySignFileExt", tokenSignArgs("{file}"),
               all({keepField("TOKEN", "signature"), keepField("FILENAME", "signatureFile")})),
          meanwhile("wc -c < '{signatureFile}'", matches("1[0-9]{6}\n")),
          meanwhile("cat '{signatureFile}'", keep("signed")),
          // The host hands this out in pieces of 1,000,000 bytes; its adapter
          // joins them and checks each piece's size.
          step("GetSignFileContent",
               {{"FileToken", S("{signature}")}, {"MaxLength", 2'000'000}, {"FileOffset", 0}},
               is("MARK=2||CONTENT={signed}"))}},

        // What the key holds; older and named keys deleted; the secure road
        // in admin state 2. The deletion list goes in UTF-8 from every front end.
        {"QueriesAndDeletions",
         {provision("sm2", kZhang), provision("rsa1024", kWang, "--type 4 --days 10"),
          provision("rsa1024", kWang, "--type 4"),
          step("GMGetCertDN", {}, is(kZhang + "||" + kWang + "||" + kWang)),
          step("GetPublicKeyNum", {}, is("3")),
          // "02" and the base64 of 04 X Y.
          step("GMGetPublicKey", {{"ReadType", S("AllPubKey")}},
               matches("02B" + kBase64 + "+\\|\\|04" + kBase64 + "+\\|\\|06" + kBase64 + "+")),
          step("GMGetAdminKeyInfo", {}, matches(kBase64 + "{20}")),
          step("GMGetTemKey", {}, matches(kBase64 + "{24}")),
          step("GetPublicKeyC", {}, matches("([^|]+\\|\\|){2}[^|]+")),
          step("GMGetPKCS7", {}, keep("certificates")),
          meanwhile("printf '%s' '{certificates}' | sed 's/||.*//' | openssl base64 -d -A |"
                    " openssl x509 -inform DER -noout -subject -nameopt utf8",
                    contains("CN=\xe5\xbc\xa0\xe4\xb8\x89")),
          step("GMBankEncGetRand", {}, code(kFunctionUnsupported)),
          meanwhile("softkey admin-state 2"),
          step("GMBankEncGetRand", {}, matches(kBase64 + "{20}")),
          step("GMGetPublicKeyC",
               {{"KeyType", S("02")},
                {"DnOrID", S("Wang")},
                {"Base64SerRand", S("AAECAwQFBgcICQoLDA0O")}},
               matches(kBase64 + "{21,}")),
          step("GMGetPublicKeyC",
               {{"KeyType", S("03")},
                {"DnOrID", S("Wang")},
                {"Base64SerRand", S("AAECAwQFBgcICQoLDA0O")}},
               code(kInvalidParameter)),
          meanwhile("softkey admin-state 1"), step("RegisterCert", {}, code(0)),
          step("GMJudgeAndDelOlderDN", {}, code(0)), step("GMJudgeAndDelOlderDN", {}, code(1)),
          step("GMDelTempKey", {{"CertDn", kZhang}, {"PublicKeyId", S()}}, code(0)),
          step("GMGetCertDN", {}, is(kWang)), step("UnRegisterCert", {}, code(0))}},

        // Names beyond ASCII under a GBK ANSI code page: compared with the
        // certificates' UTF-8 subjects, they go to the library in UTF-8.
        {"ChineseNamesUnderCodePage936",
         {provision("sm2", kZhang), meanwhile("softkey admin-state 2"),
          step("GMGetPublicKeyC",
               {{"KeyType", S("02")},
                {"DnOrID", kZhang},
                {"Base64SerRand", S("AAECAwQFBgcICQoLDA0O")}},
               matches(kBase64 + "{21,}")),
          meanwhile("softkey admin-state 1"),
          step(
              "GMUsbKeySign", signArgs(kZhang, "SM3"), sm2Signed(transactionElement(kXmlGb)),
              {{kPlugin, sm2Signed(transactionElement(kXmlGb + S(1, '\0'))), kPluginCountsTheNul}}),
          step("GMDelTempKey", {{"CertDn", kZhang}, {"PublicKeyId", S()}}, code(0)),
          step("GMGetCertDN", {}, is("")),
          // "合同.txt": on disk in the code page, in UTF-8 for the page.
          meanwhile("printf x > '\xba\xcf\xcd\xac.txt'"),
          step("NSFileToTokenExt", {{"path", S("{root}/\xe5\x90\x88\xe5\x90\x8c.txt")}},
               fieldIs("FILEPATH", "{root}/\xe5\x90\x88\xe5\x90\x8c.txt")),
          step("NSChooseFileExt", {}, fieldIs("FILEPATH", "{root}/\xe5\x90\x88\xe5\x90\x8c.txt")),
          step("NSChooseFile", {}, is("{root}/\xe5\x90\x88\xe5\x90\x8c.txt"),
               {{kPlugin, {}, kHostChoosesPaths}, {kControl, {}, kHostChoosesPaths}})},
         {{"ORVA_ACP", "936"},
          {"ORVA_FILE_DIALOG", "printf '%s\\n' '{root}/\xba\xcf\xcd\xac.txt'"}}},

        // Requests for an SM2 key pair (its subject in UTF-8) and an RSA one,
        // each verified under its new key; the bank's certificates and
        // envelope installed; a signature under the new certificate.
        {"EnrolmentAndASignatureWithTheNewCertificate",
         {step("GMCreatePKCS10",
               {{"CertReq", "DN(" + kZhang + ")HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)||DN(" +
                                kZhangSan + ")HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(03)"}},
               keep("requests")),
          meanwhile(
              "printf '%s' '{requests}' | sed 's/||.*//' | openssl base64 -d -A -out sm2.der &&"
              " openssl req -inform DER -in sm2.der -verify -vfyopt"
              " distid:1234567812345678 -noout -text -nameopt utf8",
              all({contains("verify OK"), contains("SM2-with-SM3"),
                   contains("CN=\xe5\xbc\xa0\xe4\xb8\x89")})),
          meanwhile(
              "printf '%s' '{requests}' | sed 's/.*||//' | openssl base64 -d -A -out rsa.der &&"
              " openssl req -inform DER -in rsa.der -verify -noout -text",
              all({contains("verify OK"), contains("sha256WithRSAEncryption")})),
          meanwhile("softkey issue sm2.der", keep("sm2Certificate")),
          meanwhile(
              "softkey envelope --sn " + kSn + " --container 1 --subject " + shellQuote(kZhang),
              keep("envelope")),
          step("GMWritePKCS7_Enc",
               {{"SignCertP7", S("{sm2Certificate}")},
                {"encData", S("{envelope}")},
                {"servRand", S()}},
               code(0)),
          meanwhile("softkey issue rsa.der", keep("rsaCertificate")),
          step("GMWritePKCS7", {{"SignCertP7", S("{rsaCertificate}")}}, code(0)),
          meanwhile("softkey show " + kSn, contains("exchange key: sm2")),
          step("GMGetCertDN", {}, is(kZhang + "||" + kZhang + "||" + kZhangSan)),
          step("SetCharset", {{"CharSet", S("UTF-8")}}, code(0)),
          step("GMUsbKeySign", signArgs(kZhang, "SM3"), sm2Signed(transactionElement(kXml))),
          step("GMWritePKCS7", {{"SignCertP7", S()}}, code(kInvalidParameter),
               {{kPlugin, code(kAnalyzeCertError),
                 "the plug-in hands the empty list on and the library finds no certificate in "
                 "it; the host and the control refuse it themselves"}}),
          step("GMCreatePKCS10", {{"CertReq", S("DN(CN=A)HASH(SM3)KEYTYPE(RSA1024)CERTTYPE(01)")}},
               code(kHashTypeError))}},
    };
}

}  // namespace

const std::vector<Case>& conformanceCases() {
    static const std::vector<Case> cases = makeCases();
    return cases;
}

}  // namespace orva::conformance
