// Faults of the software key on every export that touches it: the key pulled
// out before and during the call, external authentication refused, writes
// failing, and maker functions failing with every status their callers map.
// Each row checks the code, that the session was closed, that no store file,
// signature or output file is left half-written, that the key files still
// read, and that the same call succeeds once the fault is gone.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "api_library.h"
#include "faults.h"
#include "key_content_support.h"
#include "orva_result_codes.h"
#include "registrations.h"

namespace orva::api::test {
namespace {

constexpr std::string_view kXml = "<T><Amount>100.00</Amount></T>";
constexpr const char* kDisplay = "Pay 100.00?";
constexpr const char* kRandom = "AAECAwQFBgcICQoLDA0O";
constexpr const char* kRequest = "DN(CN=Alice)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)";

// The number the export answers.
using Step = std::function<int()>;

// An export with the arguments of a good call on the content key.
struct Export {
    const char* name;
    Step call;
    ApiErrorCode ok = kSuccess;          // its answer on a healthy key
    ApiErrorCode writeFault = kSuccess;  // with failWrites: ok when it writes nothing
    std::uint32_t adminState = 1;
    std::function<void()> arrange = {};
    std::optional<ApiErrorCode> fullDisk = {};  // with files limited in size, else writeFault
};

// A maker function an export calls; any status its caller does not map gives
// code. after: calls of it that pass before the fault.
struct Site {
    const char* exportName;
    const char* function;
    ApiErrorCode code;
    bool maps = false;
    unsigned after = 0;
};

struct Row {
    const Export* target;
    std::string faults;
    ApiErrorCode code;
    bool fullDisk = false;
    const char* spent = nullptr;  // the function whose counted fault must have fired
};

// Runs call while regular files may not grow past 2 KiB: a write fails part
// way, as on a full disk. The key files are larger, the trace and display log
// stay below it, a signature of the contract does not.
int onFullDisk(const Step& call) {
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 2048;
    setrlimit(RLIMIT_FSIZE, &small);
    const int code = call();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
    return code;
}

class FaultInjection : public ::testing::Test {
  public:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    Step text(const char* name) {
        return [=, this] { return callForText(api_.get<int (*)(char*, int*)>(name)).code; };
    }
    Step text(std::function<int(char*, int*)> call) {
        return [=] { return callForText(call).code; };
    }
    TextResult named() {
        return callForText([&](char* b, int* l) {
            return ORVA_API_FN(api_, QZAPI_FileToTokenExt)(contract().c_str(), b, l);
        });
    }
    fs::path contract() const { return env_->root() / "contract.txt"; }
    fs::path p7() const { return env_->root() / "out.p7"; }

    void run(const std::vector<Row>& rows);

    ApiLibrary api_;
    std::optional<TestEnvironment> env_;
    std::string token_;  // the 64 digits of the contract's token
};

// The 64 digits of a base64 token text.
std::string tokenDigits(const std::string& base64) {
    std::string text(base64.size(), '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                  reinterpret_cast<const unsigned char*>(base64.data()),
                                  static_cast<int>(base64.size()));
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.rfind("TOKEN=", 0) == 0 ? text.substr(6, 64) : std::string();
}

// What a failed write may leave behind: a store's temporary file, and after a
// failed call a signature file or a written output file.
std::vector<fs::path> leftovers(const fs::path& root, bool failed) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".tmp.") != std::string::npos ||
            (failed && entry.path().extension() == ".sig") ||
            (failed && name == "out.p7" && entry.file_size() != 0)) {
            found.push_back(entry.path());
        }
    }
    return found;
}

// An envelope sealed to Zhang's signature key, as a bank's server makes it.
std::string zhangEnvelope() {
    TestEnvironment env;
    plugContentKey(env, {kZhangSm2});
    const auto made = runCommand(orva::testing::shellQuote((binFolder() / "softkey").string()) +
                                 " --dir '" + (env.root() / "softkey").string() +
                                 "' envelope --sn SN1 --container " + kZhangSm2);
    EXPECT_EQ(made.status, 0) << made.output;
    std::string text = made.output;
    std::erase(text, '\n');
    return text;
}

void FaultInjection::run(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        const Export& e = *row.target;
        SCOPED_TRACE(std::string(e.name) + " " + row.faults + (row.fullDisk ? " disk full" : ""));
        env_.reset();
        env_.emplace();
        TestEnvironment& env = *env_;
        plugContentKey(env, {kZhangSm2, kLiRsa2048, kWangType4, kRequestSm2});
        env.changeKey("SN1", [&](softkey::Token& t) { t.adminState = e.adminState; });
        writeFile(contract(), std::string(4096, 'C'));
        if (e.arrange) {
            e.arrange();
        }
        const softkey::Store store = env.store();
        const std::string keyBefore = readText(store.keyPath("SN1", softkey::KeyPlace::present));
        const auto registeredBefore = pelnor::readRegistrations(store);
        env.setFaults(row.faults);
        env.startTrace();
        EXPECT_EQ(row.fullDisk ? onFullDisk(e.call) : e.call(), row.code);
        if (row.spent != nullptr) {
            const softkey::Faults left = softkey::readFaults(store);
            EXPECT_FALSE(left.fail.contains(row.spent) || left.pulled) << "the fault never fired";
        }

        EXPECT_EQ(env.traced("NDOpen"), env.traced("NDClose"));
        EXPECT_EQ(leftovers(env.root(), row.code != e.ok), std::vector<fs::path>{});
        // Whatever the fault left, the key files and registrations still read.
        EXPECT_NO_THROW(store.read("SN1"));
        EXPECT_NO_THROW(pelnor::readRegistrations(store));
        // A write refused, or one that failed the call, changed nothing.
        if (row.faults.find("failWrites") != std::string::npos ||
            (row.fullDisk && row.code != e.ok)) {
            EXPECT_EQ(readText(store.keyPath("SN1", softkey::KeyPlace::present)), keyBefore);
            EXPECT_EQ(pelnor::readRegistrations(store).size(), registeredBefore.size());
        }
        // What a failure left on the key (a certificate written before the
        // import failed) is set up again for the retry.
        env.setFaults("{}");
        env.store().plug("SN1");
        if (e.arrange) {
            e.arrange();
        }
        EXPECT_EQ(e.call(), e.ok) << "once the fault is gone";
    }
}

// The statuses MapTokenStatus knows, with their codes.
constexpr struct {
    const char* status;
    ApiErrorCode code;
} kMapped[] = {
    // clang-format off
    {"1", kUserCancel}, {"48", kUserCancel}, {"50", kUserCancel}, {"164", kPinLocked},
    {"\"0x80000101\"", kDefaultPin}, {"\"0x80000A01\"", kOperationTimeout},
    {"\"0x80000A04\"", kButtonBreakdown}, {"\"0x9000D10D\"", kKeyShowNull},
    {"\"0x9000D10E\"", kXmlBadData},
    // clang-format on
};

std::string failing(const Site& site, const std::string& status) {
    return std::string(R"({"fail": {")") + site.function + R"(": {"status": )" + status +
           R"(, "count": 1, "after": )" + std::to_string(site.after) + "}}}";
}

TEST_F(FaultInjection, EveryKeyTouchingExportAnswersEveryFault) {
    const int xmlSize = static_cast<int>(kXml.size());
    const auto sign = ORVA_API_FN(api_, QZAPI_GMUsbKeySign);
    const auto changeKey = [this](const std::function<void(softkey::Token&)>& change) {
        return [=, this] { env_->changeKey("SN1", change); };
    };
    const auto& content = contentKey().containers;
    const ByteString zhangCert = content.at(contentIndex(kZhangSm2)).signature.certificate;
    const ByteString liCert = content.at(contentIndex(kLiRsa2048)).signature.certificate;
    const std::string envelope = zhangEnvelope();
    const auto install = [&](const char* envelope) {
        return [=, this] {
            return ORVA_API_FN(api_, QZAPI_GMWritePKCS7_Enc)(base64Of(zhangCert).c_str(), envelope,
                                                             nullptr);
        };
    };
    const std::vector<Export> exports = {
        // clang-format off
        {"GetDevSN", text("QZAPI_GetDevSN")},
        // The emptied key fits on a full disk.
        {"CustInitCard", [&] { return ORVA_API_FN(api_, QZAPI_CustInitCard)("87654321", 8); },
         kSuccess, kDeviceStructError, 1, {}, kSuccess},
        {"ChangePIN", [&] { return ORVA_API_FN(api_, QZAPI_ChangePIN)(kTestPin, 8, "55667788", 8); },
         kSuccess, kOperationFailed},
        {"GetDevLanguageList", text("QZAPI_GetDevLanguageList")},
        {"SetDevLanguage", [&] { return ORVA_API_FN(api_, QZAPI_SetDevLanguage)("en_US"); },
         kSuccess, kOperationFailed},
        {"GMUsbKeySign", text([&](char* b, int* l) {
             return sign("Zhang", "SM3", kXml.data(), xmlSize, "", kDisplay, "", b, l); })},
        {"GMUsbKeySign to a file", [&] { return sign("", "SM3", kXml.data(), xmlSize,
             contract().c_str(), kDisplay, p7().c_str(), nullptr, nullptr); },
         kSuccess, kSuccess, 1, {}, kWriteFileError},
        {"FileToTokenExt", [&] { return named().code; }},
        {"GMUsbKeySignFileExt", [&] {
             std::string buffer(2048, '\0');
             int length = 2048;
             return ORVA_API_FN(api_, QZAPI_GMUsbKeySignFileExt)("", "SM3", kXml.data(), xmlSize,
                 kDisplay, token_.c_str(), buffer.data(), &length); },
         kSuccess, kSuccess, 1, [&] { token_ = tokenDigits(named().text); }, kWriteFileError},
        {"GMCreatePKCS10", text([&](char* b, int* l) {
             return ORVA_API_FN(api_, QZAPI_GMCreatePKCS10)(kRequest, b, l); }),
         kSuccess, kNewContainerError},
        {"GMCreatePKCS10Ex", text([&](char* b, int* l) {
             return ORVA_API_FN(api_, QZAPI_GMCreatePKCS10Ex)(kTestPin, kRequest, b, l); }),
         kSuccess, kNewContainerError},
        {"GMWritePKCS7_Enc", install(nullptr), kSuccess, kWriteCertError, 1,
         changeKey([](softkey::Token& t) {
             t.containers.at(contentIndex(kZhangSm2)).signature.certificate.clear(); })},
        {"GMWritePKCS7_Enc+envelope", install(envelope.c_str()), kSuccess, kWriteCertError, 1,
         changeKey([](softkey::Token& t) {
             t.containers.at(contentIndex(kZhangSm2)).signature.certificate.clear();
             t.containers.at(contentIndex(kZhangSm2)).exchange = {}; })},
        {"GMGetCertDN", text("QZAPI_GMGetCertDN")},
        {"GMGetPubkeyInfo", text([&](char* b, int* l) {
             return ORVA_API_FN(api_, QZAPI_GMGetPubkeyInfo)("AllPubKey", b, l); })},
        {"GMGetPubkeyInfoC", text([&](char* b, int* l) {
             return ORVA_API_FN(api_, QZAPI_GMGetPubkeyInfoC)("01", "10", kRandom, b, l); }),
         kSuccess, kSuccess, 2},
        {"GetPublicKeyC", text("QZAPI_GetPublicKeyC")},
        {"GMGetAdminKeyInfo", text("QZAPI_GMGetAdminKeyInfo")},
        {"GMGetTemKey", text("QZAPI_GMGetTemKey")},
        {"GMBankGetRand", text("QZAPI_GMBankGetRand"), kSuccess, kGetAdminKeyInfoError, 2},
        {"GMGetPKCS7", text("QZAPI_GMGetPKCS7")},
        {"GetPublicKeyNum", [&] {
             int count = 0;
             return ORVA_API_FN(api_, QZAPI_GetPublicKeyNum)(&count); }},
        // Its answer on a healthy key is the type, 1.
        {"GetCertType", [&] { return ORVA_API_FN(api_, QZAPI_GetCertType)(); },
         ApiErrorCode{1}, ApiErrorCode{1}},
        {"GMDelTempKey", [&] { return ORVA_API_FN(api_, QZAPI_GMDelTempKey)(nullptr, 0, "10"); },
         kSuccess, kDeletePublicKeyError},
        {"GMJudgeAndDelOlderDN", [&] {
             int unused = 0;
             return ORVA_API_FN(api_, QZAPI_GMJudgeAndDelOlderDN)(&unused); },
         kSuccess, kDeletePublicKeyError, 1, changeKey([&](softkey::Token& t) {  // a second Zhang San
             t.containers.emplace(contentIndex(kZhangMixed), content.at(contentIndex(kZhangMixed))); })},
        {"DelExpiredCert", [&] { return ORVA_API_FN(api_, QZAPI_DelExpiredCert)(); },
         kSuccess, kDeletePublicKeyError, 1, changeKey([&](softkey::Token& t) {
             t.containers.at(contentIndex(kLiRsa2048)).signature.certificate =
                 restamped(liCert, timeFromNow(-60)); })},
        {"RegisterCert", [&] { return ORVA_API_FN(api_, QZAPI_RegisterCert)(); }},
        {"UnRegisterCert", [&] { return ORVA_API_FN(api_, QZAPI_UnRegisterCert)(); },
         kSuccess, kSuccess, 1, [&] { ORVA_API_FN(api_, QZAPI_RegisterCert)(); }},
        // clang-format on
    };
    const Site sites[] = {
        // clang-format off
        {"GetDevSN", "QZReadSN", kOperationFailed},
        {"CustInitCard", "QZGetAdminKeyInfo", kGetAdminKeyInfoError},
        {"CustInitCard", "QZInitADF", kDeviceStructError, true},
        {"ChangePIN", "QZChangePIN", kOperationFailed, true},
        {"GetDevLanguageList", "QZGetLanguageList", kGetLanguageListError},
        {"SetDevLanguage", "NDTransmit", kOperationFailed},
        {"GMUsbKeySign", "QZEnumContainer", kNoMatchCertificate},
        {"GMUsbKeySign", "QZAsymSign", kNotTradeData},
        {"GMUsbKeySign", "QZAsymSign", kSignFailed, true, 2},
        {"GMUsbKeySign to a file", "QZAsymSign", kNotTradeData},
        {"GMUsbKeySign to a file", "QZAsymSign", kSignFailed, true, 2},
        {"FileToTokenExt", "QZExternAuth", kOpenDeviceError},
        {"GMUsbKeySignFileExt", "QZAsymSign", kNotTradeData},
        {"GMUsbKeySignFileExt", "QZAsymSign", kSignFailed, true, 2},
        {"GMCreatePKCS10", "QZNewContainer", kNewContainerError},
        {"GMCreatePKCS10", "QZGetFreePriKeyFID", kGetAsymKeyError},
        {"GMCreatePKCS10", "QZVerifyPIN", kVerifyPinError, true},
        {"GMCreatePKCS10", "QZAsymGenerateKeyPair", kGenerateAsymKeyError},
        {"GMCreatePKCS10", "QZBindPriKeyToContainer", kAddAsymKeyToContainerError},
        {"GMCreatePKCS10", "QZVerifyPIN", kDeletePublicKeyError, true, 1},
        {"GMCreatePKCS10", "QZAsymSign", kMakeRequestError},
        {"GMCreatePKCS10Ex", "QZVerifyPIN", kVerifyPinError, true},
        {"GMWritePKCS7_Enc", "QZWriteFileToContainer", kWriteCertError},
        {"GMWritePKCS7_Enc+envelope", "QZGetFreePriKeyFID", kGetAsymKeyError},
        {"GMWritePKCS7_Enc+envelope", "QZVerifyPIN", kDeletePublicKeyError, true},
        {"GMWritePKCS7_Enc+envelope", "QZAsymImportKey_ORVA", kWriteCertError},
        {"GMWritePKCS7_Enc+envelope", "QZWriteFileToContainer", kWriteCertError, false, 1},
        {"GMWritePKCS7_Enc+envelope", "QZBindPriKeyToContainer", kAddAsymKeyToContainerError},
        {"GMGetCertDN", "QZEnumContainer", kNoCertificate},
        {"GMGetPubkeyInfo", "QZGetPubKeyIDs", kOperationFailed},
        {"GMGetPubkeyInfo", "QZGetContainerInfo", kGetContainerInfoError},
        {"GMGetPubkeyInfo", "QZReadFile", kReadPublicKeyError},
        {"GMGetPubkeyInfoC", "QZGetAdminKeyInfo", kGetAdminKeyInfoError},
        {"GMGetPubkeyInfoC", "QZGetEncPubKey_New", kReadPublicKeyError},
        {"GetPublicKeyC", "QZGetPubKeyIDs", kOperationFailed},
        {"GetPublicKeyC", "QZGetEncPubKey", kReadPublicKeyError},
        {"GMGetAdminKeyInfo", "QZGetAdminKeyInfo", kGetAdminKeyInfoError},
        {"GMGetTemKey", "QZVerifyPIN", kDeletePublicKeyError, true},
        {"GMGetTemKey", "QZGetTemKey", kGetAdminKeyInfoError},
        {"GMBankGetRand", "QZGetRandomForEnc", kGetAdminKeyInfoError},
        {"GMGetPKCS7", "QZEnumContainer", kNoMatchCertificate},
        {"GMGetPKCS7", "QZEnumContainer", kNoMatchCertificate, false, 1},
        {"GetPublicKeyNum", "QZGetContainerInfo", kGetContainerInfoError},
        {"GetPublicKeyNum", "QZEnumContainer", kOperationFailed, false, 1},
        {"GetCertType", "QZEnumContainer", kNoMatchCertificate},
        {"GMDelTempKey", "QZVerifyPIN", kVerifyPinError, true},
        {"GMDelTempKey", "QZDelMultiContainers", kDeletePublicKeyError, true},
        {"GMJudgeAndDelOlderDN", "QZEnumContainer", kNoMatchCertificate},
        {"GMJudgeAndDelOlderDN", "QZEnumContainer", kNoMatchCertificate, false, 2},
        {"GMJudgeAndDelOlderDN", "QZVerifyPIN", kVerifyPinError, true},
        {"GMJudgeAndDelOlderDN", "QZDelContainer", kDeletePublicKeyError, true},
        {"DelExpiredCert", "QZEnumContainer", kNoMatchCertificate},
        {"DelExpiredCert", "QZEnumContainer", kNoMatchCertificate, false, 1},
        {"DelExpiredCert", "QZVerifyPIN", kVerifyPinError, true},
        {"DelExpiredCert", "QZDelContainer", kDeletePublicKeyError, true},
        {"RegisterCert", "QZEnumContainer", kOperationFailed},
        {"RegisterCert", "QZEnumContainer", kOperationFailed, false, 1},
        {"RegisterCert", "AuxRegUserCert", kSuccess},
        {"UnRegisterCert", "QZEnumContainer", kOperationFailed},
        {"UnRegisterCert", "AuxUnRegUserCert", kSuccess},
        // clang-format on
    };
    // A key whose walk answers "a container" for ever: the walk's failure.
    const std::pair<const char*, ApiErrorCode> endlessWalks[] = {
        // clang-format off
        {"GMUsbKeySign", kNoMatchCertificate}, {"GMUsbKeySign to a file", kNoMatchCertificate},
        {"GMUsbKeySignFileExt", kNoMatchCertificate}, {"GMWritePKCS7_Enc", kNothingFound},
        {"GMGetCertDN", kNoCertificate}, {"GMGetPubkeyInfo", kGetContainerInfoError},
        {"GMGetPubkeyInfoC", kGetContainerInfoError}, {"GetPublicKeyC", kGetContainerInfoError},
        {"GMGetPKCS7", kNoMatchCertificate}, {"GetPublicKeyNum", kGetContainerInfoError},
        {"GetCertType", kNoMatchCertificate}, {"GMDelTempKey", kNoMatchCertificate},
        {"GMJudgeAndDelOlderDN", kNoMatchCertificate}, {"DelExpiredCert", kNoMatchCertificate},
        {"RegisterCert", kOperationFailed}, {"UnRegisterCert", kOperationFailed},
        // clang-format on
    };
    const auto exportNamed = [&](std::string_view name) {
        const auto it = std::find_if(exports.begin(), exports.end(),
                                     [&](const Export& x) { return x.name == name; });
        if (it == exports.end()) {
            throw std::invalid_argument("no export named " + std::string(name));
        }
        return &*it;
    };
    std::vector<Row> rows;
    for (const auto& [name, code] : endlessWalks) {
        rows.push_back({exportNamed(name), R"({"fail": {"QZEnumContainer": 0}})", code});
    }
    for (const Export& e : exports) {
        rows.push_back({&e, R"({"pulled": "before"})", kNoDevice});
        rows.push_back({&e, R"({"refuseExternAuth": true})",
                        std::string_view(e.name) == "GetDevSN" ? e.ok : kOpenDeviceError});
        rows.push_back({&e, R"({"failWrites": true})", e.writeFault});
        rows.push_back({&e, "{}", e.fullDisk.value_or(e.writeFault), true});
    }
    for (const Site& site : sites) {
        const Export* e = exportNamed(site.exportName);
        rows.push_back({e, failing(site, "\"0x6F00\""), site.code, false, site.function});
        // Pelnor holds no device to pull out.
        if (!std::string_view(site.function).starts_with("Aux")) {
            rows.push_back({e,
                            std::string(R"({"pulled": ")") + site.function +
                                R"(", "pulledAfter": )" + std::to_string(site.after) + "}",
                            site.code, false, site.function});
        }
        // A caller that maps statuses gives each its code; one that does not
        // is not fooled by a cancel.
        const auto statuses = site.maps ? std::span(kMapped) : std::span(kMapped).first(1);
        for (const auto& mapped : statuses) {
            rows.push_back({e, failing(site, mapped.status), site.maps ? mapped.code : site.code,
                            false, site.function});
        }
    }
    run(rows);
}

}  // namespace
}  // namespace orva::api::test
