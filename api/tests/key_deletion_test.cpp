// Deleting containers (temporary keys, older and expired certificates) and
// registering certificates, against the software key: what is left on the
// key, the status-change event, and registered.json.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "api_library.h"
#include "key_content_support.h"
#include "orva_result_codes.h"
#include "registrations.h"

namespace orva::api::test {
namespace {

constexpr const char* kWalkFailsLater =
    R"({"fail": {"QZEnumContainer": {"status": "0x6F00", "after": 2}}})";

using Names = std::set<std::string>;
using Call = std::function<int(const ApiLibrary&)>;
using Arrange = std::function<void(TestEnvironment&)>;

const Names kAll = {kZhangSm2, kLiRsa2048, kWangType4, kRequestSm2, kZhangMixed};

Names without(std::initializer_list<const char*> gone) {
    Names left = kAll;
    for (const char* name : gone) {
        left.erase(name);
    }
    return left;
}

// One call on a fresh copy of the content key.
struct Scenario {
    const char* what;
    Call call;
    int expected;  // the number the export answers: a code, or 1 when nothing was deleted
    Names left;
    bool eventSet;
    Arrange arrange = {};
};

void run(const ApiLibrary& api, const Scenario& row) {
    TestEnvironment env;
    plugContentKey(env);
    if (row.arrange) {
        row.arrange(env);
    }
    const Event event = statusChangeEvent();
    ASSERT_NE(event, nullptr);
    env.startTrace();
    EXPECT_EQ(row.call(api), row.expected) << row.what;
    Names left;
    for (const auto& [index, c] : env.key("SN1").containers) {
        left.insert(c.name);
    }
    EXPECT_EQ(left, row.left) << row.what;
    EXPECT_EQ(WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0, row.eventSet) << row.what;
    EXPECT_EQ(env.traced("NDOpen"), env.traced("NDClose")) << row.what;
}

// GMDelTempKey with the length of the names given, or their whole length.
Call del(const char* names, const char* ids, int length = -1) {
    return [=](const ApiLibrary& api) {
        const int n = length == -1 ? static_cast<int>(names ? std::strlen(names) : 0) : length;
        return ORVA_API_FN(api, QZAPI_GMDelTempKey)(names, n, ids);
    };
}

Arrange faults(const char* json) {
    return [json](TestEnvironment& env) { env.setFaults(json); };
}

// Signature certificates replaced by Zhang's, each with its notAfter.
Arrange stamp(std::map<std::string, std::string> notAfter, const char* json = "{}") {
    return [=](TestEnvironment& env) {
        const ByteString zhang =
            contentKey().containers.at(contentIndex(kZhangSm2)).signature.certificate;
        env.changeKey("SN1", [&](softkey::Token& t) {
            for (auto& [index, c] : t.containers) {
                if (const auto it = notAfter.find(c.name); it != notAfter.end()) {
                    c.signature.certificate = restamped(zhang, it->second);
                }
            }
        });
        env.setFaults(json);
    };
}

const Arrange kCancel = [](TestEnvironment& env) { env.setUser(R"({"button": "cancel"})"); };

class KeyDeletion : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }
    ApiLibrary api_;
};

TEST_F(KeyDeletion, TempKeysGoByIdOrByName) {
    const std::string zhangOrNobody = std::string(kZhangSubject) + "||CN=Nobody,OU=Unit,O=Bank";
    const std::string liThenZhang = std::string(kLiSubject) + "||" + kZhangSubject;
    const int liLength = static_cast<int>(std::strlen(kLiSubject));
    const std::string liOnHeap = kLiSubject;
    // clang-format off
    const Scenario cases[] = {
        // By ids with length 0: no event. No names but a length: the event.
        {"id", del(nullptr, "10", 0), kSuccess.number(), without({kRequestSm2}), false},
        {"ids with a length", del(nullptr, "14||10", 5), kSuccess.number(), without({kRequestSm2, kZhangMixed}), true},
        {"name", del(kLiSubject, nullptr), kSuccess.number(), without({kLiRsa2048}), true},
        // The text ends at its NUL, or after length bytes.
        {"length past the text", del(liOnHeap.c_str(), nullptr, 200), kSuccess.number(), without({kLiRsa2048}), true},
        {"length cuts", del(liThenZhang.c_str(), nullptr, liLength), kSuccess.number(), without({kLiRsa2048}), true},
        // Matches count containers: Zhang's two make up for Nobody.
        {"partial names", del(zhangOrNobody.c_str(), nullptr), kSuccess.number(), without({kZhangSm2, kZhangMixed}), true},
        {"chosen by id and name", del(kZhangSubject, "14"), kSuccess.number(), without({kZhangSm2, kZhangMixed}), true},
        {"same id twice", del(nullptr, "10||10", 0), kNoMatchCertificate.number(), kAll, false},
        {"certified id", del(nullptr, "12", 0), kNoMatchCertificate.number(), kAll, false},
        {"names are whole", del("CN=Zhang San", nullptr), kNoMatchCertificate.number(), kAll, false},
        {"trailing separator", del(nullptr, "10||", 0), kInvalidParameter.number(), kAll, false},
        {"one-digit id", del(nullptr, "1", 0), kInvalidParameter.number(), kAll, false},
        {"33-character ids", del(nullptr, "01||02||03||04||05||06||07||08||091", 0), kInvalidParameter.number(), kAll, false},
        {"nothing named", del(nullptr, "", 0), kInvalidParameter.number(), kAll, false},
        {"negative length", del(kLiSubject, "10", -5), kInvalidParameter.number(), kAll, false},
        {"PIN cancelled", del(kLiSubject, nullptr), kUserCancel.number(), kAll, false, kCancel},
        {"deletion refused", del(kLiSubject, nullptr), kDeletePublicKeyError.number(), kAll, false, faults(R"({"fail": {"QZDelMultiContainers": "0x6A82"}})")},
        // The walk fails after Li's container was matched.
        {"walk fails", del(kLiSubject, nullptr), kNoMatchCertificate.number(), kAll, false, faults(kWalkFailsLater)},
    };
    // clang-format on
    for (const Scenario& row : cases) {
        run(api_, row);
    }
    // An id is two decimal digits: a sign, a blank or a letter is no id, even
    // beside a good one.
    for (const char* ids : {"-1", " 5", "5x", "", "999999999999", "10||-1", "+1", "1 "}) {
        run(api_, {ids, del(nullptr, ids, 0), kInvalidParameter.number(), kAll, false});
    }
    // Without names or ids the key is not opened; an empty id text opens it.
    const auto call = ORVA_API_FN(api_, QZAPI_GMDelTempKey);
    EXPECT_EQ(call(nullptr, 0, nullptr), kInvalidParameter);
    EXPECT_EQ(call(kLiSubject, 0, nullptr), kInvalidParameter);
    EXPECT_EQ(call(nullptr, 0, ""), kNoDevice);
}

TEST_F(KeyDeletion, OlderCertificatesOfASubjectGoLatestStays) {
    const Call judge = [](const ApiLibrary& api) {
        int untouched = 7;
        const int code = ORVA_API_FN(api, QZAPI_GMJudgeAndDelOlderDN)(&untouched);
        return untouched == 7 ? code : -1;
    };
    const Call judgeNull = [](const ApiLibrary& api) {
        return ORVA_API_FN(api, QZAPI_GMJudgeAndDelOlderDN)(nullptr);
    };
    const std::string t1 = "20300101000000Z", t2 = "20310101000000Z", t3 = "20320101000000Z";
    // clang-format off
    const Scenario cases[] = {
        // Zhang's SM2 and RSA signers count as one subject.
        {"RSA and SM2", judge, 0, without({kZhangMixed}), true, stamp({{kZhangSm2, t1}})},
        {"T2, T1, T3", judge, 0, without({kZhangSm2, kLiRsa2048, kZhangMixed}), true,
         stamp({{kZhangSm2, t2}, {kLiRsa2048, t1}, {kWangType4, t3}, {kZhangMixed, t1}})},
        {"equal: the later goes", judge, 0, without({kZhangMixed, kWangType4, kZhangSm2}), true,
         stamp({{kLiRsa2048, t2}, {kWangType4, t2}, {kZhangMixed, t1}})},
        {"incomparable: both stay", judge, 1, kAll, false, stamp({{kLiRsa2048, ""}, {kZhangSm2, t1}, {kZhangMixed, ""}})},
        // Li (T1) goes at the second step, then the walk fails.
        {"walk fails", judge, kNoMatchCertificate.number(), without({kLiRsa2048}), true,
         stamp({{kZhangSm2, t2}, {kLiRsa2048, t1}}, kWalkFailsLater)},
        {"PIN cancelled", judge, kUserCancel.number(), kAll, false, kCancel},
        {"null pointer", judgeNull, kInvalidParameter.number(), kAll, false},
    };
    // clang-format on
    for (const Scenario& row : cases) {
        run(api_, row);
    }
    // Nothing to delete: no PIN asked.
    TestEnvironment env;
    plugContentKey(env, {kZhangSm2, kLiRsa2048});
    env.startTrace();
    EXPECT_EQ(judge(api_), 1);
    EXPECT_EQ(env.traced("QZVerifyPIN"), 0u);
}

TEST_F(KeyDeletion, ExpiredSignatureCertificatesGo) {
    const Call expire = [](const ApiLibrary& api) {
        return ORVA_API_FN(api, QZAPI_DelExpiredCert)();
    };
    const Arrange encryptionExpiredAndGarbage = [](TestEnvironment& env) {
        env.changeKey("SN1", [](softkey::Token& t) {
            softkey::Container& zhang = t.containers.at(contentIndex(kZhangSm2));
            zhang.exchange.certificate = restamped(zhang.exchange.certificate, timeFromNow(-60));
            t.containers.at(contentIndex(kLiRsa2048)).signature.certificate = {0x30, 0x03, 0x02,
                                                                               0x01, 0x00};
        });
    };
    // clang-format off
    const Scenario cases[] = {
        {"valid ones stay", expire, 0, kAll, false},
        // notAfter this second counts as expired.
        {"past and now", expire, 0, without({kLiRsa2048, kWangType4}), true,
         stamp({{kLiRsa2048, timeFromNow(-86400)}, {kWangType4, timeFromNow(0)}, {kZhangMixed, timeFromNow(3600)}})},
        {"encryption and undecodable stay", expire, 0, kAll, false, encryptionExpiredAndGarbage},
        {"deletion refused", expire, kDeletePublicKeyError.number(), kAll, false,
         stamp({{kLiRsa2048, timeFromNow(-60)}}, R"({"fail": {"QZDelContainer": "0x6A82"}})")},
    };
    // clang-format on
    for (const Scenario& row : cases) {
        run(api_, row);
    }
    TestEnvironment empty;
    empty.plugKey("SN1");
    EXPECT_EQ(expire(api_), kSuccess);
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
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_RegisterCert)(), kSuccess);
    EXPECT_EQ(registered(),
              (std::map<std::string, std::uint32_t>{{kLiRsa2048, 2}, {kWangType4, 2}}));
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_UnRegisterCert)(), kSuccess);
    EXPECT_TRUE(registered().empty());
    // Pelnor's refusals change nothing; a failed walk ends the work.
    env.setFaults(R"({"fail": {"AuxRegUserCert": "0x8000001D"}})");
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_RegisterCert)(), kSuccess);
    EXPECT_TRUE(registered().empty());
    env.setFaults(kWalkFailsLater);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_RegisterCert)(), kOperationFailed);
    EXPECT_EQ(registered(), (std::map<std::string, std::uint32_t>{{kLiRsa2048, 2}}));
}

}  // namespace
}  // namespace orva::api::test
