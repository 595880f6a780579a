// Deleting containers (temporary keys, older and expired certificates) and
// registering certificates, against the software key: what is left on the
// key, what the key was asked, the status-change event and registered.json.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>

#include "api_library.h"
#include "key_content_support.h"
#include "orva_result_codes.h"
#include "registrations.h"
#include "win32/event.h"

namespace orva::api::test {
namespace {

constexpr const char* kEventName = "ZEDIDUzaZavi_Status_Change_Event_Korvane CSP ORVA V1.0";
constexpr const char* kZhang = "CN=Zhang San,OU=Unit,O=Bank";
constexpr const char* kLi = "CN=Li Si,OU=Unit,O=Bank";
constexpr const char* kWalkFailsLater =
    R"({"fail": {"QZEnumContainer": {"status": "0x6F00", "after": 2}}})";

struct HandleClose {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using Event = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

using Names = std::set<std::string>;

// delTempKey's length for the whole name text.
constexpr int kWhole = INT_MIN;

const Names kAll = {kZhangSm2, kLiRsa2048, kWangType4, kRequestSm2, kZhangMixed};

Names without(std::initializer_list<const char*> gone) {
    Names left = kAll;
    for (const char* name : gone) {
        left.erase(name);
    }
    return left;
}

// One scenario on a fresh copy of the content key.
struct Scenario {
    const char* what;
    std::function<void(TestEnvironment&)> arrange;  // may be empty
    std::function<int(const ApiLibrary&)> call;
    int expected;
    Names left;
    bool eventSet;
};

class KeyDeletion : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    void run(const Scenario& row) {
        TestEnvironment env;
        plugContentKey(env);
        if (row.arrange) {
            row.arrange(env);
        }
        const Event event(CreateEventA(nullptr, FALSE, FALSE, kEventName));
        ASSERT_NE(event, nullptr);
        env.startTrace();
        EXPECT_EQ(row.call(api_), row.expected) << row.what;
        Names left;
        for (const auto& [index, c] : env.key("SN1").containers) {
            left.insert(c.name);
        }
        EXPECT_EQ(left, row.left) << row.what;
        EXPECT_EQ(WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0, row.eventSet) << row.what;
        EXPECT_EQ(env.traced("NDOpen"), env.traced("NDClose")) << row.what;
        traced_ = env.trace();
    }

    static std::function<int(const ApiLibrary&)> delTempKey(const char* names, int length,
                                                            const char* ids) {
        return [=](const ApiLibrary& api) {
            const int n = length == kWhole ? static_cast<int>(std::strlen(names)) : length;
            return ORVA_API_FN(api, QZAPI_GMDelTempKey)(names, n, ids);
        };
    }
    static void faults(TestEnvironment& env, const char* json) { env.setFaults(json); }
    // Every container's signature certificate: the subject of Zhang's, with
    // notAfter per container name (the others keep theirs).
    static void restampAll(TestEnvironment& env, std::map<std::string, std::string> notAfter) {
        const ByteString zhang =
            contentKey().containers.at(contentIndex(kZhangSm2)).signature.certificate;
        env.changeKey("SN1", [&](softkey::Token& t) {
            for (auto& [index, c] : t.containers) {
                if (const auto it = notAfter.find(c.name); it != notAfter.end()) {
                    c.signature.certificate = restamped(zhang, it->second);
                }
            }
        });
    }

    ApiLibrary api_;
    std::vector<std::string> traced_;
};

TEST_F(KeyDeletion, TempKeysGoByIdOrByName) {
    const auto zhangOrNobody = std::string(kZhang) + "||CN=Nobody,OU=Unit,O=Bank";
    const auto liThenMore = std::string(kLi) + "||" + kZhang;
    const std::string liOnHeap = kLi;
    const Scenario cases[] = {
        // By ids alone with length 0: no event.
        {"id", {}, delTempKey(nullptr, 0, "10"), kSuccess, without({kRequestSm2}), false},
        {"name", {}, delTempKey(kLi, kWhole, nullptr), kSuccess, without({kLiRsa2048}), true},
        // No names but a length: ids, and the event.
        {"ids with length",
         {},
         delTempKey(nullptr, 5, "14||10"),
         kSuccess,
         without({kRequestSm2, kZhangMixed}),
         true},
        // A length beyond the text: the text ends at its NUL.
        {"length past the text",
         {},
         delTempKey(liOnHeap.c_str(), 200, nullptr),
         kSuccess,
         without({kLiRsa2048}),
         true},
        // Only the first length bytes count.
        {"length cuts",
         {},
         delTempKey(liThenMore.c_str(), static_cast<int>(std::strlen(kLi)), nullptr),
         kSuccess,
         without({kLiRsa2048}),
         true},
        // Matches count containers: Zhang's two make up for Nobody.
        {"partial names",
         {},
         delTempKey(zhangOrNobody.c_str(), kWhole, nullptr),
         kSuccess,
         without({kZhangSm2, kZhangMixed}),
         true},
        // Chosen by its id and by its name: deleted once.
        {"twice chosen",
         {},
         delTempKey(kZhang, kWhole, "14"),
         kSuccess,
         without({kZhangSm2, kZhangMixed}),
         true},
        {"same id twice", {}, delTempKey(nullptr, 0, "10||10"), kNoMatchCertificate, kAll, false},
        {"certified id", {}, delTempKey(nullptr, 0, "12"), kNoMatchCertificate, kAll, false},
        {"unknown name",
         {},
         delTempKey("CN=Nobody,OU=Unit,O=Bank", kWhole, nullptr),
         kNoMatchCertificate,
         kAll,
         false},
        {"exchange subject of a signer",
         {},
         delTempKey("CN=Zhang San", kWhole, nullptr),
         kNoMatchCertificate,
         kAll,
         false},
        {"trailing separator", {}, delTempKey(nullptr, 0, "10||"), kInvalidParameter, kAll, false},
        {"empty name item",
         {},
         delTempKey("||CN=Li Si", kWhole, nullptr),
         kInvalidParameter,
         kAll,
         false},
        {"one-digit id", {}, delTempKey(nullptr, 0, "1"), kInvalidParameter, kAll, false},
        {"three-digit id", {}, delTempKey(nullptr, 0, "010"), kInvalidParameter, kAll, false},
        {"33-character ids",
         {},
         delTempKey(nullptr, 0, "01||02||03||04||05||06||07||08||091"),
         kInvalidParameter,
         kAll,
         false},
        {"nothing named", {}, delTempKey(nullptr, 0, ""), kInvalidParameter, kAll, false},
        {"negative length", {}, delTempKey(kLi, -5, "10"), kInvalidParameter, kAll, false},
        {"PIN cancelled", [](TestEnvironment& e) { e.setUser(R"({"button": "cancel"})"); },
         delTempKey(kLi, kWhole, nullptr), kUserCancel, kAll, false},
        {"deletion refused",
         [](TestEnvironment& e) { faults(e, R"({"fail": {"QZDelMultiContainers": "0x6A82"}})"); },
         delTempKey(kLi, kWhole, nullptr), kDeletePublicKeyError, kAll, false},
        // The walk fails after Li's container was matched.
        {"walk fails", [](TestEnvironment& e) { faults(e, kWalkFailsLater); },
         delTempKey(kLi, kWhole, nullptr), kNoMatchCertificate, kAll, false},
    };
    for (const Scenario& row : cases) {
        run(row);
    }
}

TEST_F(KeyDeletion, TempKeyArgumentsAreCheckedBeforeTheKeyWhereTheyCanBe) {
    TestEnvironment empty;
    const auto del = ORVA_API_FN(api_, QZAPI_GMDelTempKey);
    EXPECT_EQ(del(nullptr, 0, nullptr), kInvalidParameter);
    EXPECT_EQ(del("CN=Li Si", 0, nullptr), kInvalidParameter);
    EXPECT_EQ(del(nullptr, 0, std::string(33, '1').c_str()), kInvalidParameter);
    // An empty id text is judged with the key open.
    EXPECT_EQ(del(nullptr, 0, ""), kNoDevice);
    empty.plugKey("SN1");
    EXPECT_EQ(del(nullptr, 0, "10"), kNoMatchCertificate);
}

TEST_F(KeyDeletion, OlderCertificatesOfASubjectGoLatestStays) {
    const auto stamp = [](std::map<std::string, std::string> notAfter) {
        return [notAfter](TestEnvironment& e) { restampAll(e, notAfter); };
    };
    const auto judge = [](const ApiLibrary& api) {
        int untouched = 7;
        const int code = ORVA_API_FN(api, QZAPI_GMJudgeAndDelOlderDN)(&untouched);
        return untouched == 7 ? code : -1;
    };
    const std::string t1 = "20300101000000Z", t2 = "20310101000000Z", t3 = "20320101000000Z";
    const Scenario cases[] = {
        // Zhang's two signers (SM2 and RSA) count as one subject.
        {"same subject, RSA and SM2", stamp({{kZhangSm2, t1}}), judge, 0, without({kZhangMixed}),
         true},
        {"T2, T1, T3",
         stamp({{kZhangSm2, t2}, {kLiRsa2048, t1}, {kWangType4, t3}, {kZhangMixed, t1}}), judge, 0,
         without({kZhangSm2, kLiRsa2048, kZhangMixed}), true},
        {"equal notAfter: the later one goes",
         stamp({{kLiRsa2048, t2}, {kWangType4, t2}, {kZhangMixed, t1}}), judge, 0,
         without({kZhangMixed, kWangType4, kZhangSm2}), true},
        {"incomparable times keep both",
         stamp({{kLiRsa2048, ""}, {kZhangSm2, t1}, {kZhangMixed, ""}}), judge, 1, kAll, false},
        // Li (T1) goes at the second step, then the walk fails.
        {"walk fails",
         [&](TestEnvironment& e) {
             restampAll(e, {{kZhangSm2, t2}, {kLiRsa2048, t1}});
             faults(e, kWalkFailsLater);
         },
         judge, kNoMatchCertificate, without({kLiRsa2048}), true},
        {"PIN cancelled", [](TestEnvironment& e) { e.setUser(R"({"button": "cancel"})"); }, judge,
         kUserCancel, kAll, false},
        {"null pointer",
         {},
         [](const ApiLibrary& api) {
             return ORVA_API_FN(api, QZAPI_GMJudgeAndDelOlderDN)(nullptr);
         },
         kInvalidParameter,
         kAll,
         false},
    };
    for (const Scenario& row : cases) {
        run(row);
    }
    // Nothing to delete: no PIN asked.
    TestEnvironment env;
    plugContentKey(env, {kZhangSm2, kLiRsa2048});
    env.startTrace();
    EXPECT_EQ(judge(api_), 1);
    EXPECT_EQ(env.traced("QZVerifyPIN"), 0u);
}

TEST_F(KeyDeletion, ExpiredSignatureCertificatesGo) {
    const auto del = [](const ApiLibrary& api) { return ORVA_API_FN(api, QZAPI_DelExpiredCert)(); };
    const Scenario cases[] = {
        {"valid ones stay", {}, del, 0, kAll, false},
        {"past and this second",
         [](TestEnvironment& e) {
             restampAll(e, {{kLiRsa2048, timeFromNow(-86400)},
                            {kWangType4, timeFromNow(0)},
                            {kZhangMixed, timeFromNow(3600)}});
         },
         del, 0, without({kLiRsa2048, kWangType4}), true},
        {"undecodable and expired encryption certificates stay",
         [](TestEnvironment& e) {
             e.changeKey("SN1", [](softkey::Token& t) {
                 softkey::Container& zhang = t.containers.at(contentIndex(kZhangSm2));
                 zhang.exchange.certificate =
                     restamped(zhang.exchange.certificate, timeFromNow(-60));
                 t.containers.at(contentIndex(kLiRsa2048)).signature.certificate = {
                     0x30, 0x03, 0x02, 0x01, 0x00};
             });
         },
         del, 0, kAll, false},
        {"deletion refused",
         [](TestEnvironment& e) {
             restampAll(e, {{kLiRsa2048, timeFromNow(-60)}});
             faults(e, R"({"fail": {"QZDelContainer": "0x6A82"}})");
         },
         del, kDeletePublicKeyError, kAll, false},
    };
    for (const Scenario& row : cases) {
        run(row);
    }
    TestEnvironment empty;
    empty.plugKey("SN1");
    EXPECT_EQ(del(api_), kSuccess);
}

TEST_F(KeyDeletion, RsaCertificatesOfSignerTypesAreRegistered) {
    TestEnvironment env;
    plugContentKey(env);
    const auto registered = [&] {
        std::map<std::string, std::uint32_t> seen;
        for (const pelnor::Registration& r : pelnor::readRegistrations(env.store())) {
            EXPECT_EQ(r.provider, "Korvane CSP ORVA V1.0");
            const auto& c = contentKey().containers.at(contentIndex(r.container.c_str()));
            EXPECT_EQ(r.certificate, c.signature.certificate) << r.container;
            seen[r.container] = r.keySpec;
        }
        return seen;
    };
    // SM2 keys and type-3 containers are passed over.
    const std::map<std::string, std::uint32_t> rsaTypes2And4 = {{kLiRsa2048, 2}, {kWangType4, 2}};
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_RegisterCert)(), kSuccess);
    EXPECT_EQ(registered(), rsaTypes2And4);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_UnRegisterCert)(), kSuccess);
    EXPECT_TRUE(registered().empty());
    // Pelnor's refusals change nothing; a failed walk does.
    env.setFaults(R"({"fail": {"AuxRegUserCert": "0x8000001D"}})");
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_RegisterCert)(), kSuccess);
    EXPECT_TRUE(registered().empty());
    env.setFaults(kWalkFailsLater);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_RegisterCert)(), kOperationFailed);
    EXPECT_EQ(registered(), (std::map<std::string, std::uint32_t>{{kLiRsa2048, 2}}));
}

}  // namespace
}  // namespace orva::api::test
