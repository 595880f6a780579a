// QZAPI_GMCreatePKCS10 and QZAPI_GMCreatePKCS10Ex through the built library
// against the software key: every key type and hash, each request verified by
// the openssl command line and issued by the software key's test CA; the
// containers the calls leave; the key's refusals.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api_library.h"
#include "orva/testing/support.h"
#include "orva_result_codes.h"
#include "signing_support.h"

namespace orva::api::test {
namespace {

using orva::testing::shellQuote;
using orva::testing::toHex;

constexpr const char* kSm2Description = "DN(CN=Alice)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)";

struct Created {
    int code = 0;
    std::vector<std::string> requests;  // the base64 texts, split at "||"
};

std::vector<std::string> splitRequests(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t bar; (bar = text.find("||", start)) != std::string::npos; start = bar + 2) {
        parts.push_back(text.substr(start, bar - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

class CertRequest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error();
        env_.plugKey("SN1");
        env_.setUser(std::string(R"({"pin": ")") + kTestPin + "\"}");
    }

    // As a front end calls it: the size query, then a buffer of that size.
    Created create(const char* description, const char* pin = nullptr, bool withPin = false) {
        auto call = [&](char* buffer, int* length) {
            return withPin
                       ? ORVA_API_FN(api_, QZAPI_GMCreatePKCS10Ex)(pin, description, buffer, length)
                       : ORVA_API_FN(api_, QZAPI_GMCreatePKCS10)(description, buffer, length);
        };
        const TextResult result = callForText(call);
        Created created{result.code, {}};
        if (result.code == kSuccess) {
            created.requests = splitRequests(result.text);
        }
        return created;
    }

    // Empty when `openssl req -verify` accepts the request and the test CA
    // issues a certificate for it; else what went wrong.
    std::string verifyAndIssue(const std::string& base64, bool sm2, const std::string& name) {
        const fs::path der = decodeSignature(env_, base64, name);
        const auto verified =
            runCommand("openssl req -inform DER -noout -verify -in " + shellQuote(der.string()) +
                       (sm2 ? " -vfyopt distid:1234567812345678" : ""));
        if (verified.status != 0 || verified.output.find("verify OK") == std::string::npos) {
            return "openssl req -verify: " + verified.output;
        }
        const auto issued = runCommand(shellQuote((binFolder() / "softkey").string()) + " --dir " +
                                       shellQuote((env_.root() / "softkey").string()) +
                                       " issue --format der " + shellQuote(der.string()));
        return issued.status == 0 ? std::string() : "softkey issue: " + issued.output;
    }

    std::string requestText(const std::string& name) {
        return runCommand("openssl req -inform DER -noout -text -in " +
                          shellQuote((env_.root() / (name + ".der")).string()))
            .output;
    }

    TestEnvironment env_;
    ApiLibrary api_;
};

struct KindCase {
    const char* description;
    bool sm2;
    std::uint32_t algorithm;
    std::uint32_t containerType;
    const char* signatureAlgorithm;  // as `openssl req -text` names it
    const char* keySize;
    std::vector<std::string> der;  // hex the request must hold
};

// An SM2 request field by field: version 1, the subject as O, OU, CN in
// UTF8Strings, the key algorithm with the SM2 curve, empty attributes, SM2 with
// SM3 and NULL.
const std::string kSm2Key = "3059301306072a8648ce3d020106082a811ccf5501822d03420004";
const std::string kSm2Tail = "a000300c06082a811ccf550183750500";
const std::string kVersionAndSubject =
    "0201013024"
    "310a3008060355040a0c0143"   // O=C
    "310a3008060355040b0c0142"   // OU=B
    "310a300806035504030c0141";  // CN=A

TEST_F(CertRequest, EveryKeyTypeAndHashVerifiesAndIsIssued) {
    // clang-format off
    const KindCase cases[] = {
        {"DN(CN=R1)HASH(SHA1)KEYTYPE(RSA1024)CERTTYPE(01)", false, 2, 3,
         "sha1WithRSAEncryption", "(1024 bit)", {"020101300d310b300906035504030c025231"}},
        {"DN(CN=R2,OU=U)HASH(SHA256)KEYTYPE(RSA1024)CERTTYPE(03)", false, 2, 4,
         "sha256WithRSAEncryption", "(1024 bit)",
         {"0201013019310a3008060355040b0c0155310b300906035504030c025232"}},
        {"DN(CN=R3,O=B)HASH(SHA384)KEYTYPE(RSA2048)CERTTYPE(02)", false, 3, 2,
         "sha384WithRSAEncryption", "(2048 bit)",
         {"0201013019310a3008060355040a0c0142310b300906035504030c025233"}},
        {"DN(CN=R4,OU=U,O=B) HASH(SHA512) KEYTYPE(RSA2048) CERTTYPE(01) ", false, 3, 3,
         "sha512WithRSAEncryption", "(2048 bit)",
         {"0201013025310a3008060355040a0c0142310a3008060355040b0c0155"
          "310b300906035504030c025234"}},
        {"DN(CN=A,O=C,OU=B)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)", true, 10, 3,
         "SM2-with-SM3", "(256 bit)", {kVersionAndSubject + kSm2Key, kSm2Tail}},
        {"DN(CN=\xe5\xbc\xa0\xe4\xb8\x89)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(03)", true, 10, 4,
         "SM2-with-SM3", "(256 bit)", {"3011310f300d06035504030c06e5bca0e4b889" + kSm2Key}},
    };
    // clang-format on
    int n = 0;
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string name = "req" + std::to_string(n++);
        const std::size_t before = env_.key("SN1").containers.size();
        const Created created = create(c.description);
        ASSERT_EQ(created.code, kSuccess);
        ASSERT_EQ(created.requests.size(), 1u);
        EXPECT_EQ(verifyAndIssue(created.requests[0], c.sm2, name), "");
        const std::string text = requestText(name);
        EXPECT_NE(text.find(c.signatureAlgorithm), std::string::npos) << text;
        EXPECT_NE(text.find(c.keySize), std::string::npos) << text;
        const std::string hex = toHex(orva::testing::readFile(env_.root() / (name + ".der")));
        for (const std::string& part : c.der) {
            EXPECT_NE(hex.find(part), std::string::npos) << part << " in " << hex;
        }

        // One new container: a UUID name, the signature key bound, no certificate.
        const softkey::Token key = env_.key("SN1");
        ASSERT_EQ(key.containers.size(), before + 1);
        const softkey::Container& made = key.containers.rbegin()->second;
        EXPECT_EQ(made.name.size(), 36u);
        EXPECT_EQ(made.name[8], '-');
        EXPECT_EQ(made.type, c.containerType);
        EXPECT_EQ(made.signature.algorithm, c.algorithm);
        EXPECT_TRUE(made.signature.hasKey());
        EXPECT_TRUE(made.signature.certificate.empty());
    }
}

// Two items: two requests in order, the PIN given once (the user types none)
// serving both containers.
TEST_F(CertRequest, TwoItemsGiveTwoRequestsInOrder) {
    env_.setUser("{}");
    const Created created = create(
        "DN(CN=A,OU=B,O=C)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(03)||"
        "DN(CN=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)",
        kTestPin, true);
    ASSERT_EQ(created.code, kSuccess);
    ASSERT_EQ(created.requests.size(), 2u);
    EXPECT_EQ(verifyAndIssue(created.requests[0], false, "first"), "");
    EXPECT_EQ(verifyAndIssue(created.requests[1], true, "second"), "");
    EXPECT_NE(requestText("first").find("rsaEncryption"), std::string::npos);
    const softkey::Token key = env_.key("SN1");
    ASSERT_EQ(key.containers.size(), 2u);
    EXPECT_EQ(key.containers.begin()->second.type, 4u);
    EXPECT_EQ(key.containers.rbegin()->second.type, 3u);
}

// The size query works out its answer from the description alone; argument
// checks come before the key too.
TEST_F(CertRequest, SizeQueryTouchesNoKey) {
    env_.startTrace();
    int length = 0;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMCreatePKCS10)(kSm2Description, nullptr, &length), kSuccess);
    EXPECT_EQ(length, 868);
    const std::string two = std::string(kSm2Description) + "||" + kSm2Description;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMCreatePKCS10Ex)("1", two.c_str(), nullptr, &length),
              kSuccess);
    EXPECT_EQ(length, 2 * 868 + 2);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMCreatePKCS10Ex)(nullptr, "", nullptr, &length),
              kInvalidParameter);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMCreatePKCS10)(kSm2Description, nullptr, nullptr),
              kInvalidParameter);
    EXPECT_TRUE(env_.trace().empty());
}

// A short buffer gets kBufferTooSmall and the size of this call's request with its NUL
// (an SM2 request for CN=Alice is 204 to 208 bytes, 272 to 280 in base64), and
// the key pair made for it stays. A retry makes another key pair, whose
// request may be a few bytes longer: callers size with the size query.
TEST_F(CertRequest, ShortBufferKeepsTheContainer) {
    std::string buffer(16, 'Z');
    int length = static_cast<int>(buffer.size());
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMCreatePKCS10)(kSm2Description, buffer.data(), &length),
              kBufferTooSmall);
    EXPECT_GE(length, 273);
    EXPECT_LE(length, 281);
    EXPECT_EQ(buffer, std::string(16, 'Z'));
    EXPECT_EQ(env_.key("SN1").containers.size(), 1u);
    const Created retry = create(kSm2Description);
    EXPECT_EQ(retry.code, kSuccess);
    EXPECT_EQ(env_.key("SN1").containers.size(), 2u);
}

struct RefusalCase {
    const char* faults;  // faults.json
    const char* user;    // user.json
    const char* pin;     // for the Ex export; null: the plain one
    ApiErrorCode code;
    std::size_t containersLeft;
    std::size_t keyFilesLeft;
};

TEST_F(CertRequest, KeyRefusalsGiveTheirCodesAndLeaveWhatWasMade) {
    const RefusalCase cases[] = {
        {R"({"fail": {"QZNewContainer": {"status": "0x6A84", "count": 1}}})", nullptr, nullptr,
         kNewContainerError, 0, 0},
        {R"({"fail": {"QZGetFreePriKeyFID": {"status": "0x6A84", "count": 1}}})", nullptr, nullptr,
         kGetAsymKeyError, 1, 0},
        {R"({"fail": {"QZVerifyPIN": {"status": "0x6A80", "count": 1}}})", nullptr, nullptr,
         kVerifyPinError, 1, 0},
        {R"({"fail": {"QZAsymGenerateKeyPair": {"status": "0x6F00", "count": 1}}})", nullptr,
         nullptr, kGenerateAsymKeyError, 1, 0},
        {R"({"fail": {"QZBindPriKeyToContainer": {"status": "0x6985", "count": 1}}})", nullptr,
         nullptr, kAddAsymKeyToContainerError, 1, 1},
        // The PIN: a wrong one given, the user cancelling, a locked PIN.
        {"{}", nullptr, "87654321", kVerifyPinError, 1, 0},
        {"{}", R"({"button": "cancel"})", nullptr, kUserCancel, 1, 0},
        {R"({"fail": {"QZVerifyPIN": {"status": 164, "count": 1}}})", nullptr, nullptr, kPinLocked,
         1, 0},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.faults);
        env_.changeKey("SN1", [](softkey::Token& t) {
            t.containers.clear();
            t.keyFiles.clear();
        });
        env_.setFaults(c.faults);
        env_.setUser(c.user != nullptr ? c.user : R"({"pin": "12345678"})");
        EXPECT_EQ(create(kSm2Description, c.pin, c.pin != nullptr).code, c.code);
        const softkey::Token key = env_.key("SN1");
        EXPECT_EQ(key.containers.size(), c.containersLeft);
        EXPECT_EQ(key.keyFiles.size(), c.keyFilesLeft);
    }
}

}  // namespace
}  // namespace orva::api::test
