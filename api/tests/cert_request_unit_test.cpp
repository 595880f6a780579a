// Certificate requests from inside the library: the request description, the
// public keys the key hands back, and the key's answers replaced at the bound
// function table (a signature that does not verify, the PIN check before
// signing).

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "bound_function_table.h"
#include "cert_request_builder.h"
#include "cert_requests.h"
#include "hash_ids.h"
#include "library_lifecycle.h"
#include "orva/testing/support.h"
#include "request_description.h"
#include "test_environment.h"
#include "win32/module.h"

namespace orva::api {
namespace {

using orva::testing::fromHex;

struct DescriptionCase {
    std::string description;
    ApiErrorCode code;
    // The items expected on success: "cn|ou|o type bits alg hash".
    std::vector<std::string> items;
};

std::string summary(const CertRequestItem& item) {
    return item.cn + "|" + item.ou + "|" + item.o + " " + std::to_string(item.containerType) + " " +
           std::to_string(item.keyBits) + " " + std::to_string(item.keyAlgId) + " " +
           std::to_string(item.hashId);
}

TEST(RequestDescription, ParsesOrRefusesWithTheFirstError) {
    const std::string sm2 = "DN(CN=Alice)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)";
    const DescriptionCase cases[] = {
        {sm2, kSuccess, {"Alice|| 3 256 10 8"}},
        {"DN(CN=A,OU=B,O=C)HASH(SHA256)KEYTYPE(RSA2048)CERTTYPE(03)||" + sm2,
         kSuccess,
         {"A|B|C 4 2048 3 5", "Alice|| 3 256 10 8"}},
        {"DN(CN=r)HASH(SHA1)KEYTYPE(RSA1024)CERTTYPE(02)", kSuccess, {"r|| 2 1024 2 4"}},
        // Blanks after the DN go, blanks inside it stay; OU and O in any order.
        {"DN(CN=Zhang San, O= Bank ,OU=Unit) HASH( SM3 )KEYTYPE(SM2256) CERTTYPE(03) ",
         kSuccess,
         {"Zhang San|Unit| Bank  4 256 10 8"}},
        // Names are matched whole: O=CNPC is an O, OU=ACNB an OU, the first CN wins.
        {"DN(O=CNPC,OU=ACNB,CN=Li,CN=Wang)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)",
         kSuccess,
         {"Li|ACNB|CNPC 3 256 10 8"}},
        {"DN(O=CNPC)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)", kInvalidParameter, {}},
        {"DN( CN =x,XCN=y,CNX=z)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)",
         kSuccess,
         {"x|| 3 256 10 8"}},
        // kInvalidParameter: three items, a DN, CN or field missing or empty, text after CERTTYPE.
        {sm2 + "||" + sm2 + "||" + sm2, kInvalidParameter, {}},
        {sm2 + "||", kInvalidParameter, {}},
        {"CN=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)", kInvalidParameter, {}},
        {"DN(CN=A HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)", kInvalidParameter, {}},
        {"DN(CN=)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)", kInvalidParameter, {}},
        {"DN(OU=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)", kInvalidParameter, {}},
        {"DN(CN=A)HASH()KEYTYPE(SM2256)CERTTYPE(01)", kInvalidParameter, {}},
        {"DN(CN=A)KEYTYPE(SM2256)CERTTYPE(01)", kInvalidParameter, {}},
        {"DN(CN=A)HASH(SM3)KEYTYPE()CERTTYPE(01)", kInvalidParameter, {}},
        {"DN(CN=A)HASH(SM3)CERTTYPE(01)KEYTYPE(SM2256)", kInvalidParameter, {}},
        {"DN(CN=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE()", kInvalidParameter, {}},
        {"DN(CN=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)x", kInvalidParameter, {}},
        {"DN(CN=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01", kInvalidParameter, {}},
        {"DN(CN=" + std::string(1020, 'a') + ")HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)",
         kInvalidParameter,
         {}},
        // kHashTypeError, kAsymIdTypeError, kCertUsageError; the first error wins.
        {"DN(CN=A)HASH(sm3)KEYTYPE(SM2256)CERTTYPE(01)", kHashTypeError, {}},
        {"DN(CN=A)HASH(SM3)KEYTYPE(RSA1024)CERTTYPE(01)", kHashTypeError, {}},
        {"DN(CN=A)HASH(SHA256)KEYTYPE(SM2256)CERTTYPE(09)", kHashTypeError, {}},
        {"DN(CN=A)HASH(SM3)KEYTYPE(SM2)CERTTYPE(09)", kAsymIdTypeError, {}},
        {"DN(CN=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(02)", kCertUsageError, {}},
        {"DN(CN=A)HASH(SHA1)KEYTYPE(RSA1024)CERTTYPE(1)", kCertUsageError, {}},
        {"DN(CN=A)HASH(BAD)KEYTYPE(SM2256)CERTTYPE(01)||DN()", kHashTypeError, {}},
    };
    for (const DescriptionCase& c : cases) {
        SCOPED_TRACE(c.description);
        const Result<std::vector<CertRequestItem>> items = parseRequestDescription(c.description);
        ASSERT_EQ(items.code(), c.code);
        if (c.code != kSuccess) {
            continue;
        }
        ASSERT_EQ(items->size(), c.items.size());
        for (std::size_t i = 0; i < items->size(); ++i) {
            EXPECT_EQ(summary((*items)[i]), c.items[i]);
            EXPECT_EQ((*items)[i].signForm, (*items)[i].containerType - 1);
        }
    }
}

CertRequestItem itemFor(int hashId) {
    CertRequestItem item;
    item.hashId = hashId;
    item.keyAlgId = hashId == kHashIdSm3 ? kSm2KeyAlgId : kRsa2048KeyAlgId;
    item.cn = "A";
    return item;
}

// An RSA block as the key writes it: bits, modulus, 00, exponent length,
// exponent.
orva::testing::Bytes rsaBlock(std::string_view exponentLength, std::string_view exponent) {
    return fromHex("0400" + std::string(2 * 16, 'c') + "00" + std::string(exponentLength) +
                   std::string(exponent));
}

TEST(BuildCertRequest, RefusesPublicKeysThatDoNotConvert) {
    // A point on the SM2 curve: its generator.
    const std::string gx = "32c4ae2c1f1981195f9904466a39c9948fe30bbff2660be1715a4589334c74c7";
    const std::string gy = "bc3736a2f4f6779c59bdcee36b692153d0a9877cc62a474002df32e52139f0a0";
    struct Case {
        int hashId;
        orva::testing::Bytes key;
        ApiErrorCode code;
    };
    const Case cases[] = {
        {kHashIdSm3, fromHex(gx + gy), kSuccess},
        {kHashIdSm3, fromHex(gx + gx), kConvertPublicKeyError},  // off the curve
        {kHashIdSm3, fromHex(gx + gy.substr(2)), kConvertPublicKeyError},
        {kHashIdSm3, {}, kConvertPublicKeyError},
        {kHashIdSha256, rsaBlock("03", "010001"), kSuccess},
        {kHashIdSha256, rsaBlock("01", "000003"), kSuccess},
        {kHashIdSha256, rsaBlock("00", "010001"), kConvertPublicKeyError},
        {kHashIdSha256, rsaBlock("05", "010001"), kConvertPublicKeyError},
        {kHashIdSha256, fromHex("04000003010001"), kConvertPublicKeyError},
        {kHashIdMd5, rsaBlock("03", "010001"), kInvalidParameter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(orva::testing::toHex(c.key));
        const Result<X509ReqPtr> request = buildCertRequest(itemFor(c.hashId), c.key);
        EXPECT_EQ(request.code(), c.code);
        EXPECT_EQ(request && *request != nullptr, c.code == kSuccess);
    }
}

decltype(&::QZAsymSign) realSign = nullptr;
decltype(&::QZVerifyPIN) realVerifyPin = nullptr;
std::uint32_t keepPinStatus = 0;

// The real key behind the bound table, with one answer changed.
class KeyAnswers : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(processAttach(GetModuleHandleA(nullptr)), TRUE);
        env_.plugKey("SN1");
        env_.setUser(std::string(R"({"pin": ")") + test::kTestPin + "\"}");
        realSign = boundFunctions().dravik.QZAsymSign;
        realVerifyPin = boundFunctions().dravik.QZVerifyPIN;
    }
    void TearDown() override { processDetach(); }

    ApiErrorCode create(const char* description) {
        std::string buffer(8192, '\0');
        int length = static_cast<int>(buffer.size());
        return createCertRequests(nullptr, description, buffer.data(), &length);
    }

    test::TestEnvironment env_;
};

// The key's own signature with one bit flipped.
template <class... Args>
std::uint32_t flippedSignature(Args... args) {
    const std::uint32_t status = realSign(args...);
    const auto all = std::tie(args...);
    std::get<14>(all)[*std::get<15>(all) / 2] ^= 0x01;
    return status;
}

TEST_F(KeyAnswers, ASignatureThatDoesNotVerifyIsRefused) {
    boundFunctions().dravik.QZAsymSign = flippedSignature;
    EXPECT_EQ(create("DN(CN=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)"), kMakeRequestError);
    EXPECT_EQ(create("DN(CN=A)HASH(SHA256)KEYTYPE(RSA1024)CERTTYPE(01)"), kMakeRequestError);
}

// The check before signing, which may take the PIN verified for the key pair:
// its own default code, and the user's answers mapped.
TEST_F(KeyAnswers, ThePinCheckBeforeSigningHasItsOwnDefault) {
    boundFunctions().dravik.QZVerifyPIN = [](void* device, std::uint32_t type, const char* pin,
                                             std::uint32_t len, void* reserved,
                                             std::uint32_t flag) {
        return pin == nullptr && flag == 1 ? keepPinStatus
                                           : realVerifyPin(device, type, pin, len, reserved, flag);
    };
    const std::pair<std::uint32_t, ApiErrorCode> cases[] = {
        {0x6A80, kDeletePublicKeyError}, {DRV_E_CANCELLED, kUserCancel}, {0, kSuccess}};
    for (const auto& [status, code] : cases) {
        keepPinStatus = status;
        EXPECT_EQ(create("DN(CN=A)HASH(SM3)KEYTYPE(SM2256)CERTTYPE(01)"), code) << status;
    }
}

}  // namespace
}  // namespace orva::api
