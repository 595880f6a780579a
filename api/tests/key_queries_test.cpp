// Certificate and public-key queries against the software key: formats to
// the byte, public keys against OpenSSL's own encodings, enciphered blocks
// opened with the key's device key by the openssl command line.

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "api_library.h"
#include "key_content_support.h"
#include "orva/openssl_ptr.h"
#include "orva_result_codes.h"

namespace orva::api::test {
namespace {

constexpr const char* kRandom = "AAECAwQFBgcICQoLDA0O";  // bytes 0..14
constexpr const char* kWalkFailsLater =
    R"({"fail": {"QZEnumContainer": {"status": "0x6F00", "after": 1}}})";
using TextExport = int (*)(char*, int*);

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("||", start)) != std::string::npos; start = at + 2) {
        items.push_back(text.substr(start, at - start));
    }
    items.push_back(text.substr(start));
    return items;
}

// "%02d" id and OpenSSL's encoding of the key per file id, joined by "||":
// SM2 as its uncompressed point, RSA as PKCS#1 RSAPublicKey.
std::string listing(std::initializer_list<std::uint32_t> fids) {
    std::string text;
    for (const std::uint32_t fid : fids) {
        const softkey::SecureString& pem = contentKey().keyFiles.at(fid - 1).privatePem;
        const BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
        const EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
        ByteString der(1024);
        std::size_t length = 0;
        if (EVP_PKEY_is_a(key.get(), "SM2")) {
            EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY,
                                            der.data(), der.size(), &length);
        } else {
            unsigned char* cursor = der.data();
            length = static_cast<std::size_t>(i2d_PublicKey(key.get(), &cursor));
        }
        der.resize(length);
        char id[8];
        std::snprintf(id, sizeof id, "%02u", fid);
        text += (text.empty() ? "" : "||") + std::string(id) + base64Of(der);
    }
    return text;
}

class KeyQueries : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    // Both calls, as front ends make them.
    TextResult text(const char* name) { return callForText(api_.get<TextExport>(name)); }
    // One call with a buffer ample for any listing.
    TextResult once(const char* name) {
        std::string buffer(1 << 16, '\0');
        int length = static_cast<int>(buffer.size());
        const int code = api_.get<TextExport>(name)(buffer.data(), &length);
        return {code, buffer.c_str(), length};
    }
    TextResult pubkeyInfo(const char* filter) {
        return callForText([&](char* b, int* l) {
            return ORVA_API_FN(api_, QZAPI_GMGetPubkeyInfo)(filter, b, l);
        });
    }
    TextResult pubkeyInfoC(const char* type, const char* names, const char* random = kRandom) {
        return callForText([&](char* b, int* l) {
            return ORVA_API_FN(api_, QZAPI_GMGetPubkeyInfoC)(type, names, random, b, l);
        });
    }
    void setAdminState(std::uint32_t state) {
        env_.changeKey("SN1", [state](softkey::Token& t) { t.adminState = state; });
    }
    // SM4-ECB decryption under the key's device key, as the issuer's server does it.
    ByteString decipher(const std::string& base64) {
        const softkey::SecureBytes& key = contentKey().deviceKey;
        env_.writeFile("block.b64", base64);
        const auto opened = runCommand(
            "cd " + orva::testing::shellQuote(env_.root().string()) +
            " && openssl base64 -d -A -in block.b64 | openssl enc -d -sm4-ecb -nopad -K " +
            orva::testing::toHex(std::span(key.data(), key.size())) + " -out block.bin");
        EXPECT_EQ(opened.status, 0) << opened.output;
        return readFile(env_.root() / "block.bin");
    }
    static ByteString padded(ByteString bytes) {
        bytes.resize((bytes.size() + 15) / 16 * 16, 0);
        return bytes;
    }
    static const ByteString& publicFile(std::uint32_t fid) {
        return contentKey().keyFiles.at(fid - 1).publicFile;
    }

    TestEnvironment env_;
    ApiLibrary api_;
};

TEST_F(KeyQueries, ListingsAreByteExact) {
    plugContentKey(env_);
    const auto cert = [](const char* name, bool exchange = false) {
        const softkey::Container& c = contentKey().containers.at(contentIndex(name));
        return base64Of(exchange ? c.exchange.certificate : c.signature.certificate);
    };
    const std::string zhang = kZhangSubject;
    const struct {
        const char* what;
        TextResult got;
        std::string expected;
    } cases[] = {
        // Signature before exchange, in walk order; the request has none.
        {"subjects", text("QZAPI_GMGetCertDN"),
         zhang + "||" + zhang + "||" + kLiSubject + "||" + kWangSubject + "||" + zhang},
        {"AllPubKey", pubkeyInfo("AllPubKey"), listing({2, 6, 8, 10, 12})},
        {"NoCertPubKey", pubkeyInfo("NoCertPubKey"), listing({10, 14})},
        {"CertPubKey", pubkeyInfo("CertPubKey"), listing({2, 6, 8, 12})},
        {"certificates", text("QZAPI_GMGetPKCS7"),
         cert(kZhangSm2) + "||" + cert(kZhangSm2, true) + "||" + cert(kLiRsa2048) + "||" +
             cert(kWangType4) + "||" + cert(kZhangMixed)},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(row.got.code, kSuccess) << row.what;
        EXPECT_EQ(row.got.text, row.expected) << row.what;
        EXPECT_EQ(row.got.length, static_cast<int>(row.expected.size())) << row.what;
    }
    int count = -1;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetPublicKeyNum)(&count), kSuccess);
    EXPECT_EQ(count, 5);
    // A public-key file of another size than its key needs is not read.
    env_.changeKey("SN1", [](softkey::Token& t) { t.keyFiles.at(9).publicFile.resize(60); });
    EXPECT_EQ(pubkeyInfo("NoCertPubKey").code, kReadPublicKeyError);

    // An empty key lists nothing, has no type, and nothing to encipher.
    TestEnvironment empty;
    empty.plugKey("SN1");
    EXPECT_EQ(text("QZAPI_GMGetCertDN").text + text("QZAPI_GMGetPKCS7").text +
                  pubkeyInfo("AllPubKey").text,
              "");
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetPublicKeyNum)(&count), kSuccess);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetCertType)(), kNoMatchCertificate);
    EXPECT_EQ(text("QZAPI_GetPublicKeyC").code, kNothingFound);
    // Type 4 with an SM2 key is 2.
    TestEnvironment sm2;
    plugContentKey(sm2, {kZhangSm2});
    sm2.changeKey("SN1", [](softkey::Token& t) { t.containers.begin()->second.type = 4; });
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetCertType)(), 2);
}

TEST_F(KeyQueries, EncipheredKeysOpenWithTheDeviceKey) {
    plugContentKey(env_);
    // Each container's signature key, else its exchange key; last id first.
    const std::vector<std::string> items = split(text("QZAPI_GetPublicKeyC").text);
    const std::uint32_t order[] = {12, 10, 8, 6, 2};
    ASSERT_EQ(items.size(), std::size(order));
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(decipher(items[i]), padded(publicFile(order[i]))) << order[i];
    }
    // For the issuer: type, count, then id, length and file per key, then the random.
    setAdminState(2);
    const auto block = [](std::uint8_t type, std::initializer_list<std::uint8_t> ids) {
        ByteString b{type, static_cast<std::uint8_t>(ids.size())};
        for (const std::uint8_t id : ids) {
            const ByteString& file = publicFile(id);
            b.insert(b.end(), {id, static_cast<std::uint8_t>(file.size() >> 8),
                               static_cast<std::uint8_t>(file.size())});
            b.insert(b.end(), file.begin(), file.end());
        }
        for (std::uint8_t r = 0; r < 15; ++r) {
            b.push_back(r);
        }
        return padded(b);
    };
    const struct {
        const char* type;
        const char* names;
        ByteString expected;
    } cases[] = {
        {"01", "10||14", block(1, {10, 14})},
        // A name without a comma is a prefix of the common name.
        {"02", "Wang||Zhang", block(2, {8, 2})},
    };
    for (const auto& row : cases) {
        const TextResult result = pubkeyInfoC(row.type, row.names);
        ASSERT_EQ(result.code, kSuccess) << row.names;
        EXPECT_EQ(decipher(result.text), row.expected) << row.names;
    }
}

TEST_F(KeyQueries, AdminRecordTemporaryKeyAndRandomKeepTheirOwnRules) {
    plugContentKey(env_, {kZhangSm2});
    const std::string r31 = "A1000123456789ABCDEFGHIJKLMNOPQ";
    const struct {
        std::string record;  // empty: the key's own (24 characters)
        ApiErrorCode code;
        std::string text;
    } records[] = {
        // Characters 23 and 24 onto 19 and 20, the last four dropped.
        {"", kSuccess,
         [this] {
             const std::string r = softkey::adminKeyRecord(env_.key("SN1"));
             return r.substr(0, 18) + r.substr(22, 2);
         }()},
        {r31.substr(0, 23), kGetAdminKeyInfoError, ""},
        {r31 + "R", kGetAdminKeyInfoError, ""},  // 32 bytes, no terminator
        {r31, kSuccess, r31.substr(0, 18) + r31.substr(22, 2) + r31.substr(20, 7)},
    };
    for (const auto& row : records) {
        env_.changeKey("SN1", [&](softkey::Token& t) {
            t.adminRecord.assign(row.record.begin(), row.record.end());
        });
        const TextResult result = text("QZAPI_GMGetAdminKeyInfo");
        EXPECT_EQ(result.code, row.code) << row.record;
        EXPECT_EQ(result.text, row.text) << row.record;
    }
    int length = 0;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMGetAdminKeyInfo)(nullptr, &length), kSuccess);
    EXPECT_EQ(length, 28);  // 31 - 3
    env_.changeKey("SN1", [](softkey::Token& t) { t.adminRecord.clear(); });

    // Short buffers get kBufferTooSmall and keep their length; the random's 20
    // characters fit 20 bytes, its NUL only a 21st.
    const std::string tem = base64Of(contentKey().tempKey);
    const struct {
        const char* name;
        std::uint32_t state;
        int given;
        ApiErrorCode code;
        int lengthAfter;
        std::size_t end;  // where the text ends
        char after;       // the byte there
    } cases[] = {
        {"QZAPI_GMGetTemKey", 1, 24, kBufferTooSmall, 24, 0, '#'},
        {"QZAPI_GMGetTemKey", 1, 25, kSuccess, 24, 24, '\0'},
        {"QZAPI_GMBankGetRand", 2, 19, kBufferTooSmall, 19, 0, '#'},
        {"QZAPI_GMBankGetRand", 2, 20, kSuccess, 20, 20, '#'},
        {"QZAPI_GMBankGetRand", 2, 21, kSuccess, 20, 20, '\0'},
    };
    for (const auto& row : cases) {
        setAdminState(row.state);
        std::string buffer(64, '#');
        length = row.given;
        EXPECT_EQ(api_.get<TextExport>(row.name)(buffer.data(), &length), row.code) << row.given;
        EXPECT_EQ(length, row.lengthAfter) << row.name << row.given;
        EXPECT_EQ(buffer[row.end], row.after) << row.name << row.given;
        const std::string expected = row.state == 1 ? tem : base64Of(env_.key("SN1").randomForEnc);
        EXPECT_EQ(buffer.substr(0, row.end), expected.substr(0, row.end)) << row.name;
    }
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMBankGetRand)(nullptr, &length), kSuccess);
    EXPECT_EQ(length, 20);
}

TEST_F(KeyQueries, BadArgumentsAndFailuresGetTheirCodes) {
    const auto infoC = [&](const char* type, const char* names, const char* random = kRandom) {
        return [=, this] { return pubkeyInfoC(type, names, random).code; };
    };
    const auto code = [&](const char* name) { return [=, this] { return text(name).code; }; };
    const auto subjectsSoFar = [&] {
        const TextResult r = once("QZAPI_GMGetCertDN");
        return r.text == std::string(kZhangSubject) + "||" + kZhangSubject ? r.code : -1;
    };
    const char* noKey = nullptr;
    const char* none = "{}";
    const struct {
        const char* what;
        const char* faults;  // null: no key plugged in
        std::function<int()> call;
        ApiErrorCode expected;
        std::uint32_t adminState = 2;
    } cases[] = {
        // clang-format off
        // Refused before the key is opened.
        {"filter in other case", noKey, [&] { return pubkeyInfo("allpubkey").code; }, kInvalidParameter},
        {"key type 1", noKey, infoC("1", "10"), kInvalidParameter},
        {"three items", noKey, infoC("01", "10||12||14"), kInvalidParameter},
        {"16-byte random", noKey, infoC("01", "10", "AAECAwQFBgcICQoLDA0ODw=="), kInvalidParameter},
        // Ids and names are judged with the key open.
        {"one-digit ids, no key", noKey, infoC("01", "1||2"), kNoDevice},
        {"one-digit ids", none, infoC("01", "1||2"), kInvalidParameter},
        {"certified id", none, infoC("01", "12"), kInvalidParameter},
        {"empty name", none, infoC("02", "Li||"), kInvalidParameter},
        {"unknown name", none, infoC("02", "CN=Nobody,O=Bank"), kNoCertificate},
        // Each export's admin-key state: 1 plain enrolment, 2 with the server's random.
        {"enciphered keys in state 2", none, code("QZAPI_GetPublicKeyC"), kFunctionUnsupported},
        {"temporary key in state 2", none, code("QZAPI_GMGetTemKey"), kFunctionUnsupported},
        {"random in state 1", none, code("QZAPI_GMBankGetRand"), kFunctionUnsupported, 1},
        {"issuer's block in state 1", none, infoC("01", "10"), kFunctionUnsupported, 1},
        // A walk failing after its first step: what was collected, or a code.
        // Other failures under faults: FaultInjection.EveryKeyTouchingExportAnswersEveryFault.
        {"subjects so far", kWalkFailsLater, subjectsSoFar, kSuccess},
        {"listing", kWalkFailsLater, [&] { return pubkeyInfo("AllPubKey").code; }, kOperationFailed},
        // clang-format on
    };
    for (const auto& row : cases) {
        TestEnvironment env;
        if (row.faults) {
            plugContentKey(env);
            env.changeKey("SN1", [&](softkey::Token& t) { t.adminState = row.adminState; });
            env.setFaults(row.faults);
        }
        env.startTrace();
        EXPECT_EQ(row.call(), row.expected) << row.what;
        EXPECT_EQ(env.traced("NDOpen"), env.traced("NDClose")) << row.what;
    }
}

// Beyond the fixed rooms of 8 items, 8,192 bytes of subjects and 4,096 bytes
// of base64 per certificate, contents come out whole.
TEST_F(KeyQueries, LargeContentsComeOutWhole) {
    env_.plugKey("SN1");
    env_.setUser(std::string(R"({"pin": ")") + kTestPin + "\"}");
    const std::string tool = orva::testing::shellQuote((binFolder() / "softkey").string()) +
                             " --dir " +
                             orva::testing::shellQuote((env_.root() / "softkey").string());
    std::string subject = "CN=Long";
    for (char c = 'a'; c < 'a' + 15; ++c) {
        subject += ",OU=" + std::string(60, c);
    }
    for (int i = 0; i < 10; ++i) {
        const auto made = runCommand(tool + " provision --sn SN1 --alg sm2 --type 3 --subject " +
                                     orva::testing::shellQuote(subject));
        ASSERT_EQ(made.status, 0) << made.output;
    }
    // A certificate of 4,000 bytes that does not decode: handed out, but no subject.
    const ByteString large(4000, 0x30);
    env_.changeKey("SN1", [&](softkey::Token& t) {
        t.containers.rbegin()->second.signature.certificate = large;
    });
    const std::vector<std::string> names = split(text("QZAPI_GMGetCertDN").text);
    EXPECT_EQ(names, std::vector<std::string>(9, subject));
    const std::vector<std::string> certificates = split(text("QZAPI_GMGetPKCS7").text);
    ASSERT_EQ(certificates.size(), 10u);
    EXPECT_EQ(certificates.back(), base64Of(large));
    EXPECT_EQ(split(pubkeyInfo("AllPubKey").text).size(), 10u);
    // One name on nine containers deletes all nine.
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMDelTempKey)(subject.c_str(),
                                                    static_cast<int>(subject.size()), nullptr),
              kSuccess);
    EXPECT_EQ(env_.key("SN1").containers.size(), 1u);
}

}  // namespace
}  // namespace orva::api::test
