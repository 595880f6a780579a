// Certificate and public-key queries against the software key: every format
// to the byte, public keys checked against OpenSSL's own encodings, enciphered
// blocks opened with the key's device key by the openssl command line, and
// certificates verified against the test CA.

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

using orva::testing::shellQuote;

constexpr const char* kRandom = "AAECAwQFBgcICQoLDA0O";  // bytes 0..14

std::string base64Of(std::span<const std::uint8_t> bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    text.resize(
        static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                                 bytes.data(), static_cast<int>(bytes.size()))));
    return text;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> items;
    for (std::size_t start = 0;;) {
        const std::size_t at = text.find("||", start);
        items.push_back(text.substr(start, at == std::string::npos ? at : at - start));
        if (at == std::string::npos) {
            return items;
        }
        start = at + 2;
    }
}

// A public key as OpenSSL encodes it: SM2 as its uncompressed point, RSA as
// PKCS#1 RSAPublicKey.
ByteString opensslPublicKey(std::uint32_t publicFid) {
    const softkey::SecureString& pem = contentKey().keyFiles.at(publicFid - 1).privatePem;
    const BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    const EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    ByteString out(1024);
    std::size_t length = 0;
    if (EVP_PKEY_is_a(key.get(), "SM2")) {
        EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, out.data(),
                                        out.size(), &length);
    } else {
        unsigned char* cursor = out.data();
        length = static_cast<std::size_t>(i2d_PublicKey(key.get(), &cursor));
    }
    out.resize(length);
    return out;
}

// "%02d" id and base64 key per file id, joined by "||".
std::string listing(std::initializer_list<std::uint32_t> fids) {
    std::string text;
    for (const std::uint32_t fid : fids) {
        char id[8];
        std::snprintf(id, sizeof id, "%02u", fid);
        text += (text.empty() ? "" : "||") + std::string(id) + base64Of(opensslPublicKey(fid));
    }
    return text;
}

class KeyQueries : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(api_.loaded()) << orva_platform_last_load_error(); }

    TextResult text(const std::function<int(char*, int*)>& call) { return callForText(call); }
    TextResult pubkeyInfo(const char* filter) {
        return text([&](char* b, int* l) {
            return ORVA_API_FN(api_, QZAPI_GMGetPubkeyInfo)(filter, b, l);
        });
    }
    TextResult pubkeyInfoC(const char* type, const char* names, const char* random = kRandom) {
        return text([&](char* b, int* l) {
            return ORVA_API_FN(api_, QZAPI_GMGetPubkeyInfoC)(type, names, random, b, l);
        });
    }
    TextResult exportText(const char* name) {
        const auto call = api_.get<int (*)(char*, int*)>(name);
        return text(call);
    }
    // One call with a buffer ample for any listing.
    TextResult once(const char* name) {
        std::string buffer(1 << 16, '\0');
        int length = static_cast<int>(buffer.size());
        const int code = api_.get<int (*)(char*, int*)>(name)(buffer.data(), &length);
        return {code, buffer.c_str(), length};
    }
    void setAdminState(std::uint32_t state) {
        env_.changeKey("SN1", [state](softkey::Token& t) { t.adminState = state; });
    }

    // SM4-ECB decryption under the key's device key, by openssl.
    ByteString decipher(const std::string& base64) {
        env_.writeFile("block.b64", base64);
        const softkey::SecureBytes& deviceKey = contentKey().deviceKey;
        const std::string key = orva::testing::toHex(std::span(deviceKey.data(), deviceKey.size()));
        const fs::path in = env_.root() / "block.b64";
        const fs::path out = env_.root() / "block.bin";
        const auto run = runCommand("openssl base64 -d -A -in " + shellQuote(in.string()) +
                                    " | openssl enc -d -sm4-ecb -nopad -K " + key + " -out " +
                                    shellQuote(out.string()));
        EXPECT_EQ(run.status, 0) << run.output;
        return readFile(out);
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

TEST_F(KeyQueries, ListingsOfAWholeKeyAreByteExact) {
    plugContentKey(env_);
    const auto& c = contentKey().containers;
    const auto cert = [&](const char* name, bool exchange = false) {
        const softkey::Container& container = c.at(contentIndex(name));
        return base64Of(exchange ? container.exchange.certificate
                                 : container.signature.certificate);
    };
    const std::string zhang = "CN=Zhang San,OU=Unit,O=Bank";
    const struct {
        const char* what;
        std::function<TextResult()> call;
        std::string expected;
    } cases[] = {
        // Signature before exchange, in walk order; the request has none.
        {"GMGetCertDN", [&] { return exportText("QZAPI_GMGetCertDN"); },
         zhang + "||" + zhang + "||CN=Li Si,OU=Unit,O=Bank||CN=Wang Wu,OU=Branch,O=Bank||" + zhang},
        {"AllPubKey", [&] { return pubkeyInfo("AllPubKey"); }, listing({2, 6, 8, 10, 12})},
        {"NoCertPubKey", [&] { return pubkeyInfo("NoCertPubKey"); }, listing({10, 14})},
        {"CertPubKey", [&] { return pubkeyInfo("CertPubKey"); }, listing({2, 6, 8, 12})},
        {"GMGetPKCS7", [&] { return exportText("QZAPI_GMGetPKCS7"); },
         cert(kZhangSm2) + "||" + cert(kZhangSm2, true) + "||" + cert(kLiRsa2048) + "||" +
             cert(kWangType4) + "||" + cert(kZhangMixed)},
    };
    for (const auto& row : cases) {
        const TextResult result = row.call();
        EXPECT_EQ(result.code, kSuccess) << row.what;
        EXPECT_EQ(result.text, row.expected) << row.what;
        EXPECT_EQ(result.length, static_cast<int>(row.expected.size())) << row.what;
    }
    int count = -1;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetPublicKeyNum)(&count), kSuccess);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetCertType)(), 1);  // the type-4 RSA container
    // A public-key file of another size than its key needs is not read.
    env_.changeKey("SN1", [](softkey::Token& t) { t.keyFiles.at(9).publicFile.resize(60); });
    EXPECT_EQ(pubkeyInfo("NoCertPubKey").code, kReadPublicKeyError);
}

TEST_F(KeyQueries, HandedOutCertificatesVerifyAgainstTheTestCa) {
    plugContentKey(env_);
    env_.writeFile("ca.pem", contentCaPem());
    for (const std::string& item : split(exportText("QZAPI_GMGetPKCS7").text)) {
        env_.writeFile("cert.b64", item);
        const std::string dir = shellQuote(env_.root().string());
        const auto verified = runCommand("cd " + dir +
                                         " && openssl base64 -d -A -in cert.b64 -out cert.der"
                                         " && openssl verify -CAfile ca.pem cert.der");
        EXPECT_EQ(verified.status, 0) << verified.output;
    }
}

TEST_F(KeyQueries, EncipheredKeysOpenWithTheDeviceKey) {
    plugContentKey(env_);
    // Each container's signature key, else its exchange key; last id first.
    const TextResult plain = exportText("QZAPI_GetPublicKeyC");
    ASSERT_EQ(plain.code, kSuccess);
    const std::vector<std::string> items = split(plain.text);
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
        {"01", "14", block(1, {14})},
        {"02", "CN=Li Si,OU=Unit,O=Bank", block(2, {6})},
        // A name without a comma is a prefix of the common name.
        {"02", "Wang||Zhang", block(2, {8, 2})},
    };
    for (const auto& row : cases) {
        const TextResult result = pubkeyInfoC(row.type, row.names);
        ASSERT_EQ(result.code, kSuccess) << row.names;
        EXPECT_EQ(decipher(result.text), row.expected) << row.names;
    }
}

TEST_F(KeyQueries, AdminTemporaryKeyAndRandomKeepTheirOwnSizeRules) {
    plugContentKey(env_, {kZhangSm2});
    const std::string record = softkey::adminKeyRecord(env_.key("SN1"));
    ASSERT_EQ(record.size(), 24u);
    const TextResult admin = exportText("QZAPI_GMGetAdminKeyInfo");
    EXPECT_EQ(admin.text, record.substr(0, 18) + record.substr(22, 2));
    int length = 0;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMGetAdminKeyInfo)(nullptr, &length), kSuccess);
    EXPECT_EQ(length, 21);

    // The temporary key: a short buffer leaves the length alone.
    const auto temKey = ORVA_API_FN(api_, QZAPI_GMGetTemKey);
    const std::string temText = base64Of(contentKey().tempKey);
    EXPECT_EQ(temKey(nullptr, &length), kSuccess);
    EXPECT_EQ(length, static_cast<int>(temText.size()) + 1);
    std::string buffer(64, '#');
    length = static_cast<int>(temText.size());
    EXPECT_EQ(temKey(buffer.data(), &length), kBufferTooSmall);
    EXPECT_EQ(length, static_cast<int>(temText.size()));
    length = static_cast<int>(buffer.size());
    EXPECT_EQ(temKey(buffer.data(), &length), kSuccess);
    EXPECT_EQ(std::string(buffer.c_str()), temText);
    EXPECT_EQ(length, static_cast<int>(temText.size()));

    // The random: 20 characters, the NUL only where there is room for it.
    setAdminState(2);
    const auto rand = ORVA_API_FN(api_, QZAPI_GMBankGetRand);
    const struct {
        int given;
        int code;
        int lengthAfter;
        char after;  // the byte behind the 20 characters
    } cases[] = {{19, kBufferTooSmall, 19, '#'}, {20, kSuccess, 20, '#'}, {21, kSuccess, 20, '\0'}};
    EXPECT_EQ(rand(nullptr, &length), kSuccess);
    EXPECT_EQ(length, 20);
    for (const auto& row : cases) {
        buffer.assign(64, '#');
        length = row.given;
        EXPECT_EQ(rand(buffer.data(), &length), row.code) << row.given;
        EXPECT_EQ(length, row.lengthAfter) << row.given;
        EXPECT_EQ(buffer[20], row.after) << row.given;
        if (row.code == kSuccess) {
            EXPECT_EQ(buffer.substr(0, 20), base64Of(env_.key("SN1").randomForEnc)) << row.given;
        }
    }
}

TEST_F(KeyQueries, AdminRecordsAreShortenedOnlyWhenWhole) {
    plugContentKey(env_, {kZhangSm2});
    const std::string r31 = "A1000123456789ABCDEFGHIJKLMNOPQ";
    const struct {
        std::string record;
        int code;
        std::string text;
    } cases[] = {
        // Characters 23 and 24 onto 19 and 20, the last four dropped.
        {r31, kSuccess, r31.substr(0, 18) + r31.substr(22, 2) + r31.substr(20, 7)},
        {r31.substr(0, 24), kSuccess, r31.substr(0, 18) + r31.substr(22, 2)},
        {r31.substr(0, 23), kGetAdminKeyInfoError, ""},
        {r31 + "R", kGetAdminKeyInfoError, ""},  // 32 bytes, no terminator
    };
    for (const auto& row : cases) {
        env_.changeKey("SN1", [&](softkey::Token& t) {
            t.adminRecord.assign(row.record.begin(), row.record.end());
        });
        const TextResult result = exportText("QZAPI_GMGetAdminKeyInfo");
        EXPECT_EQ(result.code, row.code) << row.record;
        EXPECT_EQ(result.text, row.text) << row.record;
    }
}

// Contents beyond the fixed rooms of 8 items, 8,192 bytes of subjects and
// 4,096 bytes of base64 per certificate come out whole.
TEST_F(KeyQueries, LargeContentsComeOutWhole) {
    env_.plugKey("SN1");
    const std::string tool = shellQuote((binFolder() / "softkey").string()) + " --dir " +
                             shellQuote((env_.root() / "softkey").string());
    std::string subject = "CN=Long";
    for (int i = 0; i < 15; ++i) {
        subject += ",OU=" + std::string(60, static_cast<char>('a' + i));
    }
    std::string subjects;
    for (int i = 0; i < 10; ++i) {
        const auto made = runCommand(tool + " provision --sn SN1 --alg sm2 --type 3 --subject " +
                                     shellQuote(subject));
        ASSERT_EQ(made.status, 0) << made.output;
        subjects += (subjects.empty() ? "" : "||") + subject;
    }
    // A certificate of 4,000 bytes that does not decode: listed, but no subject.
    const ByteString large(4000, 0x30);
    env_.changeKey("SN1", [&](softkey::Token& t) {
        t.containers.rbegin()->second.signature.certificate = large;
    });
    const TextResult names = exportText("QZAPI_GMGetCertDN");
    EXPECT_GT(names.text.size(), 8192u);
    EXPECT_EQ(names.text, subjects.substr(0, subjects.size() - subject.size() - 2));
    const std::vector<std::string> certificates = split(exportText("QZAPI_GMGetPKCS7").text);
    ASSERT_EQ(certificates.size(), 10u);
    EXPECT_EQ(certificates.back(), base64Of(large));
    EXPECT_EQ(split(pubkeyInfo("AllPubKey").text).size(), 10u);
    // One name on nine containers deletes all nine.
    env_.setUser(std::string(R"({"pin": ")") + kTestPin + "\"}");
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GMDelTempKey)(subject.c_str(),
                                                    static_cast<int>(subject.size()), nullptr),
              kSuccess);
    EXPECT_EQ(env_.key("SN1").containers.size(), 1u);
}

TEST_F(KeyQueries, ExportsAskTheAdminKeyStateTheyNeed) {
    plugContentKey(env_);
    const struct {
        const char* what;
        std::uint32_t refusingState;
        std::function<int()> call;
    } cases[] = {
        {"GetPublicKeyC", 2, [&] { return exportText("QZAPI_GetPublicKeyC").code; }},
        {"GMGetTemKey", 2, [&] { return exportText("QZAPI_GMGetTemKey").code; }},
        {"GMBankGetRand", 1, [&] { return exportText("QZAPI_GMBankGetRand").code; }},
        {"GMGetPubkeyInfoC", 1, [&] { return pubkeyInfoC("01", "10").code; }},
    };
    for (const auto& row : cases) {
        setAdminState(row.refusingState);
        EXPECT_EQ(row.call(), kFunctionUnsupported) << row.what;
        setAdminState(3 - row.refusingState);
        EXPECT_EQ(row.call(), kSuccess) << row.what;
        env_.setFaults(R"({"fail": {"QZGetAdminKeyInfo": "0x6A82"}})");
        EXPECT_EQ(row.call(), kGetAdminKeyInfoError) << row.what;
        env_.setFaults("{}");
    }
}

TEST_F(KeyQueries, BadArgumentsAndFailuresGetTheirCodes) {
    const auto info = ORVA_API_FN(api_, QZAPI_GMGetPubkeyInfo);
    const auto infoC = ORVA_API_FN(api_, QZAPI_GMGetPubkeyInfoC);
    int length = 0;
    std::string sixteen = "AAECAwQFBgcICQoLDA0ODw==";
    const struct {
        const char* what;
        const char* faults;  // null: no key plugged in
        std::function<int()> call;
        int expected;
        std::uint32_t adminState = 1;
    } cases[] = {
        // Refused before the key is opened.
        {"filter in other case", nullptr, [&] { return info("allpubkey", nullptr, &length); },
         kInvalidParameter},
        {"no filter", nullptr, [&] { return info(nullptr, nullptr, &length); }, kInvalidParameter},
        {"key type 1", nullptr, [&] { return infoC("1", "10", kRandom, nullptr, &length); },
         kInvalidParameter},
        {"three items", nullptr,
         [&] { return infoC("01", "10||12||14", kRandom, nullptr, &length); }, kInvalidParameter},
        {"16-byte random", nullptr,
         [&] { return infoC("01", "10", sixteen.c_str(), nullptr, &length); }, kInvalidParameter},
        {"random not base64", nullptr,
         [&] { return infoC("01", "10", "AAEC*wQFBgcICQoL", nullptr, &length); },
         kBase64DecodeError},
        {"null count", nullptr, [&] { return ORVA_API_FN(api_, QZAPI_GetPublicKeyNum)(nullptr); },
         kInvalidParameter},
        // The id items are judged once the key is open.
        {"one-digit ids, no key", nullptr,
         [&] { return infoC("01", "1||2", kRandom, nullptr, &length); }, kNoDevice},
        {"one-digit ids", "{}", [&] { return infoC("01", "1||2", kRandom, nullptr, &length); },
         kInvalidParameter, 2},
        {"certified id", "{}", [&] { return infoC("01", "12", kRandom, nullptr, &length); },
         kInvalidParameter, 2},
        {"empty name", "{}", [&] { return infoC("02", "Li||", kRandom, nullptr, &length); },
         kInvalidParameter, 2},
        {"unknown name", "{}",
         [&] { return infoC("02", "CN=Nobody,OU=Unit,O=Bank", kRandom, nullptr, &length); },
         kNoCertificate, 2},
        {"no certificate type", nullptr, [&] { return ORVA_API_FN(api_, QZAPI_GetCertType)(); },
         kNoDevice},
        // A walk failing after its first step.
        {"subjects so far", R"({"fail": {"QZEnumContainer": {"status": "0x6F00", "after": 1}}})",
         [&] {
             const TextResult r = once("QZAPI_GMGetCertDN");
             return r.text == "CN=Zhang San,OU=Unit,O=Bank||CN=Zhang San,OU=Unit,O=Bank" ? r.code
                                                                                         : -1;
         },
         kSuccess},
        {"listing, walk failed",
         R"({"fail": {"QZEnumContainer": {"status": "0x6F00", "after": 1}}})",
         [&] { return pubkeyInfo("AllPubKey").code; }, kOperationFailed},
        {"certificates, walk failed",
         R"({"fail": {"QZEnumContainer": {"status": "0x6F00", "after": 1}}})",
         [&] { return exportText("QZAPI_GMGetPKCS7").code; }, kNoMatchCertificate},
        {"count, walk failed", R"({"fail": {"QZEnumContainer": {"status": "0x6F00", "after": 1}}})",
         [&] {
             int n = 0;
             return ORVA_API_FN(api_, QZAPI_GetPublicKeyNum)(&n);
         },
         kOperationFailed},
        {"no subjects, walk failed", R"({"fail": {"QZEnumContainer": "0x6F00"}})",
         [&] { return exportText("QZAPI_GMGetCertDN").code; }, kNoCertificate},
        {"key file unreadable", R"({"fail": {"QZReadFile": "0x6A82"}})",
         [&] { return pubkeyInfo("AllPubKey").code; }, kReadPublicKeyError},
        {"enciphered key refused", R"({"fail": {"QZGetEncPubKey": "0x6A82"}})",
         [&] { return exportText("QZAPI_GetPublicKeyC").code; }, kReadPublicKeyError},
        {"temporary key unreadable", R"({"fail": {"QZGetTemKey": "0x6A82"}})",
         [&] { return exportText("QZAPI_GMGetTemKey").code; }, kGetAdminKeyInfoError},
        {"PIN cancelled", R"({"fail": {"QZVerifyPIN": 1}})",
         [&] { return exportText("QZAPI_GMGetTemKey").code; }, kUserCancel},
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

TEST_F(KeyQueries, AnEmptyKeyListsNothing) {
    env_.plugKey("SN1");
    for (const char* name : {"QZAPI_GMGetCertDN", "QZAPI_GMGetPKCS7"}) {
        const TextResult result = exportText(name);
        EXPECT_EQ(result.code, kSuccess) << name;
        EXPECT_EQ(result.text, "") << name;
    }
    EXPECT_EQ(pubkeyInfo("AllPubKey").text, "");
    EXPECT_EQ(exportText("QZAPI_GetPublicKeyC").code, kNothingFound);
    int count = -1;
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetPublicKeyNum)(&count), kSuccess);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetCertType)(), kNoMatchCertificate);
    // Only type-4 containers tell the type: SM2 is 2.
    TestEnvironment sm2;
    plugContentKey(sm2, {kZhangSm2});
    sm2.changeKey("SN1", [](softkey::Token& t) { t.containers.begin()->second.type = 4; });
    EXPECT_EQ(ORVA_API_FN(api_, QZAPI_GetCertType)(), 2);
}

}  // namespace
}  // namespace orva::api::test
