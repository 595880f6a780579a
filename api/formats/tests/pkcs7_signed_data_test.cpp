#include "pkcs7_signed_data.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "base64_codec.h"
#include "formats_test_support.h"
#include "hash_ids.h"
#include "orva/openssl_ptr.h"
#include "orva_result_codes.h"
#include "result.h"
#include "sign_packet_writer.h"

namespace orva::api {
namespace {

using test::fromHex;
using test::toHex;

constexpr std::string_view kSm2Id = "1234567812345678";

struct Signer {
    std::string key;        // private key, PEM file
    std::string publicKey;  // the certificate's public key, PEM file
    Bytes certificate;      // DER
};

bool contains(std::span<const std::uint8_t> haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

Bytes concat(Bytes head, std::span<const std::uint8_t> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Keys and certificates made by the openssl program once per process; what we
// build is checked by it too.
class Pkcs7SignedData : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { dir_ = std::make_unique<test::TempDir>(); }
    static void TearDownTestSuite() {
        signers_.clear();
        dir_.reset();
    }

    static std::string arg(const std::string& name) { return dir_->arg(name); }

    static void run(const std::string& args) {
        const auto result = test::openssl(args);
        ASSERT_EQ(result.status, 0) << "openssl " << args << "\n" << result.output;
    }

    // "rsa2048", "sm2", or "v1": RSA-1024 with a version-1 certificate (no
    // version field, no extensions).
    static const Signer& signer(const std::string& kind) {
        if (const auto found = signers_.find(kind); found != signers_.end()) {
            return found->second;
        }
        const std::string key = arg(kind + ".key");
        const std::string cert = arg(kind + ".der");
        const std::string subject = " -subj '/CN=Zhang San/OU=Retail/O=Orva Test Bank' -days 1";
        if (kind == "sm2") {
            run("genpkey -algorithm SM2 -out " + key);
            run("req -new -x509 -key " + key + " -sm3 -sigopt distid:" + std::string(kSm2Id) +
                subject + " -outform DER -out " + cert);
        } else if (kind == "v1") {
            run("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out " + key);
            run("req -new -key " + key + subject + " -out " + arg("v1.csr"));
            run("x509 -req -in " + arg("v1.csr") + " -signkey " + key + " -outform DER -out " +
                cert);
        } else {
            run("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " + key);
            run("req -new -x509 -key " + key + subject + " -outform DER -out " + cert);
        }
        run("x509 -inform DER -in " + cert + " -pubkey -noout -out " + arg(kind + ".pub"));
        return signers_
            .emplace(kind, Signer{dir_->file(kind + ".key"), dir_->file(kind + ".pub"),
                                  test::readFile(dir_->file(kind + ".der"))})
            .first->second;
    }

    // A PKCS#1 v1.5 signature over the content, as the key returns it.
    static Bytes signRsa(const Signer& s, std::span<const std::uint8_t> content, int hashId) {
        static const std::map<int, std::string> kOptions = {{kHashIdMd5, "-md5"},
                                                            {kHashIdSha1, "-sha1"},
                                                            {kHashIdSha256, "-sha256"},
                                                            {kHashIdSha384, "-sha384"},
                                                            {kHashIdSha512, "-sha512"}};
        test::writeFile(dir_->file("content.bin"), content);
        run("dgst " + kOptions.at(hashId) + " -sign '" + s.key + "' -out " + arg("sig.bin") + " " +
            arg("content.bin"));
        return test::readFile(dir_->file("sig.bin"));
    }

    // r || s of an SM2 signature with the default ID over the content, as the
    // key returns it.
    static Bytes signSm2(EVP_PKEY* key, std::span<const std::uint8_t> content) {
        const EvpPkeyCtxPtr pctx(EVP_PKEY_CTX_new(key, nullptr));
        const EvpMdCtxPtr md(EVP_MD_CTX_new());
        EVP_PKEY_CTX_set1_id(pctx.get(), kSm2Id.data(), static_cast<int>(kSm2Id.size()));
        EVP_MD_CTX_set_pkey_ctx(md.get(), pctx.get());
        Bytes der(128);
        std::size_t length = der.size();
        if (EVP_DigestSignInit(md.get(), nullptr, EVP_sm3(), nullptr, key) != 1 ||
            EVP_DigestSign(md.get(), der.data(), &length, content.data(), content.size()) != 1) {
            throw std::runtime_error("SM2 signing failed");
        }
        const unsigned char* at = der.data();
        const EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length)));
        Bytes raw(64);
        BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), raw.data(), 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), raw.data() + 32, 32);
        return raw;
    }

    static EvpPkeyPtr loadKey(const Signer& s) {
        const BioPtr bio(BIO_new_file(s.key.c_str(), "r"));
        return EvpPkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    }

    // Size query, then the build into exactly that size. SM3 picks the SM2
    // builder.
    static Bytes build(std::span<const std::uint8_t> content, const Signer& s,
                       const Bytes& signature, int hashId) {
        const auto builder = [&](std::span<std::uint8_t> out) {
            return hashId == kHashIdSm3
                       ? buildPkcs7SignedDataSm2(content, kContentEmbedded, s.certificate,
                                                 signature, out)
                       : buildPkcs7SignedDataRsa(content, kContentEmbedded, s.certificate,
                                                 signature, out, hashId);
        };
        const std::optional<std::size_t> size = builder({});
        EXPECT_TRUE(size);
        Bytes out(size.value_or(0));
        EXPECT_EQ(builder(out), size);
        test::writeFile(dir_->file("p7.der"), out);
        return out;
    }

    // openssl cms parses p7.der, checks the RSA signature unless told not to,
    // and must give back exactly the content.
    static void expectCmsVerifies(std::span<const std::uint8_t> content, bool signature = true) {
        std::filesystem::remove(dir_->file("got.bin"));
        const auto result =
            test::openssl("cms -verify -inform DER -in " + arg("p7.der") + " -noverify -binary " +
                          (signature ? "" : "-nosigs ") + "-out " + arg("got.bin"));
        ASSERT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(test::readFile(dir_->file("got.bin")), Bytes(content.begin(), content.end()));
    }

    // The SM2 signature in p7.der (its last OCTET STRING, found by asn1parse),
    // checked by pkeyutl over the content with the certificate's public key.
    static void expectSm2Verifies(const Signer& s, std::span<const std::uint8_t> content) {
        test::writeFile(dir_->file("content.bin"), content);
        const auto parsed = test::openssl("asn1parse -inform DER -in " + arg("p7.der"));
        std::istringstream lines(parsed.output);
        std::string offset;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("OCTET STRING") != std::string::npos) {
                offset = line.substr(0, line.find(':'));
            }
        }
        ASSERT_FALSE(offset.empty()) << parsed.output;
        run("asn1parse -inform DER -in " + arg("p7.der") + " -strparse " + offset +
            " -noout -out " + arg("sig.der"));
        const auto verified =
            test::openssl("pkeyutl -verify -pubin -inkey '" + s.publicKey +
                          "' -rawin -digest sm3 -pkeyopt distid:" + std::string(kSm2Id) + " -in " +
                          arg("content.bin") + " -sigfile " + arg("sig.der"));
        EXPECT_EQ(verified.status, 0) << verified.output;
    }

    static inline std::unique_ptr<test::TempDir> dir_;
    static inline std::map<std::string, Signer> signers_;
};

TEST_F(Pkcs7SignedData, RsaVerifiesForEveryHash) {
    const Signer& s = signer("rsa2048");
    const Bytes content = fromHex("3c543e7061793c2f543e");
    for (const int hashId :
         {kHashIdMd5, kHashIdSha1, kHashIdSha256, kHashIdSha384, kHashIdSha512}) {
        SCOPED_TRACE(hashId);
        const Bytes signature = signRsa(s, content, hashId);
        const Bytes p7 = build(content, s, signature, hashId);
        expectCmsVerifies(content);
        EXPECT_TRUE(contains(p7, concat(fromHex("04820100"), signature)));
        EXPECT_TRUE(contains(p7, s.certificate));
    }
}

TEST_F(Pkcs7SignedData, ContentLengthsAcrossEveryLengthForm) {
    const Signer& s = signer("v1");
    for (const std::size_t length : {0, 127, 128, 255, 256, 65535, 65536}) {
        SCOPED_TRACE(length);
        Bytes content(length);
        for (std::size_t i = 0; i < length; ++i) {
            content[i] = static_cast<std::uint8_t>(i * 7);
        }
        const Bytes signature = signRsa(s, content, kHashIdSha256);
        const Bytes p7 = build(content, s, signature, kHashIdSha256);
        // openssl reads every enclosing length strictly.
        expectCmsVerifies(content);
        EXPECT_TRUE(contains(p7, concat(fromHex("048180"), signature)));
        EXPECT_EQ(length == 0, contains(p7, fromHex("06092a864886f70d010701a0020400")));
    }
}

// The chain written as base64 piece by piece is the text of the whole
// SignedData, for content lengths where a DER length changes form (the content
// and the outer lengths cross 127, 255, 65535, 16777215) and each base64
// remainder; the text also decodes back to the DER.
TEST_F(Pkcs7SignedData, Base64OfTheChainIsTheTextOfTheWholeDer) {
    const Signer& s = signer("v1");
    const Bytes sm2Signature(kSm2SignatureSize, 0xC3);
    const Bytes rsaSignature(128, 0x5A);
    std::set<std::size_t> remainders;
    Bytes content;
    for (const std::size_t length : {0, 1, 2, 126, 127, 128, 254, 255, 256, 65000, 65535, 65536,
                                     65537, 16777214, 16777215, 16777216}) {
        for (const int hashId : {kHashIdSha256, kHashIdSm3}) {
            SCOPED_TRACE(::testing::Message() << length << ", " << hashId);
            content.resize(length, 0xA7);
            const Bytes& signature = hashId == kHashIdSm3 ? sm2Signature : rsaSignature;
            const std::optional<DerChain> chain =
                hashId == kHashIdSm3
                    ? buildPkcs7SignedDataSm2(content, kContentEmbedded, s.certificate, signature)
                    : buildPkcs7SignedDataRsa(content, kContentEmbedded, s.certificate, signature,
                                              hashId);
            ASSERT_TRUE(chain);
            const Bytes der = chain->toBytes();
            ASSERT_EQ(der, build(content, s, signature, hashId));
            remainders.insert(der.size() % 3);

            const std::string expected = base64Encode(der);
            std::string text(expected.size() + 1, '#');
            EXPECT_FALSE(chain->writeBase64To(std::span(text).first(expected.size() - 1)));
            EXPECT_EQ(text[0], '#');
            const std::optional<std::size_t> written = chain->writeBase64To(text);
            ASSERT_EQ(written, expected.size());
            EXPECT_TRUE(text.compare(0, *written, expected) == 0);
            EXPECT_EQ(base64Decode(std::string_view(text).substr(0, *written)), der);
        }
    }
    EXPECT_EQ(remainders, (std::set<std::size_t>{0, 1, 2}));
}

TEST_F(Pkcs7SignedData, SizeQueryIsExactAndOneByteShortWritesNothing) {
    const Signer& s = signer("v1");
    const Bytes content(1000, 'p');
    const Bytes p7 = build(content, s, Bytes(128, 0x5A), kHashIdSha1);
    // The RSA size depends on the signature's length only.
    const std::size_t size = p7.size();
    EXPECT_EQ(buildPkcs7SignedDataRsa(content, kContentEmbedded, s.certificate, Bytes(128, 0xFF),
                                      {}, kHashIdSha1),
              size);
    ASSERT_EQ(p7[1], 0x82);
    EXPECT_EQ((std::size_t{p7[2]} << 8 | p7[3]) + 4, size);

    Bytes out(size + 16, 0xEE);
    EXPECT_FALSE(buildPkcs7SignedDataRsa(content, kContentEmbedded, s.certificate, Bytes(128, 0x5A),
                                         std::span(out).first(size - 1), kHashIdSha1));
    EXPECT_EQ(out, Bytes(size + 16, 0xEE));
}

TEST_F(Pkcs7SignedData, RsaRefusals) {
    const Signer& s = signer("v1");
    const Bytes content = fromHex("0102");
    const Bytes signature(128, 1);
    for (const int hashId : {2, kHashIdSm3, kHashIdNone}) {
        EXPECT_FALSE(buildPkcs7SignedDataRsa(content, kContentEmbedded, s.certificate, signature,
                                             {}, hashId));
        EXPECT_FALSE(buildSignerInfoRsa(signature, s.certificate, hashId));
    }
    EXPECT_FALSE(buildPkcs7SignedDataRsa(content, 0, s.certificate, signature, {}, kHashIdSha1));
    EXPECT_FALSE(
        buildPkcs7SignedDataRsa(content, kContentEmbedded, s.certificate, {}, {}, kHashIdSha1));
    EXPECT_FALSE(buildPkcs7SignedDataSm2(content, 0, signer("sm2").certificate, Bytes(64, 1)));
}

TEST_F(Pkcs7SignedData, Sm2StructureAndSignatureCheckWithOpenssl) {
    const Signer& s = signer("sm2");
    // The content is a real to-be-signed packet.
    Bytes packet(1024);
    const Result<std::size_t> packetLength =
        buildSignPacketBinary("<T>transfer 500.00</T>", "Transfer 500.00?", "", packet);
    ASSERT_EQ(packetLength.code(), kSuccess);
    packet.resize(*packetLength);
    const Bytes p7 = build(packet, s, signSm2(loadKey(s).get(), packet), kHashIdSm3);

    // Object identifiers in order: signedData, the SM3 digest set, data, the
    // certificate's own, then the SignerInfo's SM3 digest and SM2 algorithm.
    const auto structure = test::openssl("asn1parse -inform DER -in " + arg("p7.der"));
    ASSERT_EQ(structure.status, 0) << structure.output;
    std::vector<std::string> objects;
    std::istringstream lines(structure.output);
    for (std::string line; std::getline(lines, line);) {
        if (const auto at = line.find("OBJECT            :"); at != std::string::npos) {
            objects.push_back(line.substr(line.find(':', at) + 1));
        }
    }
    ASSERT_GE(objects.size(), 5u) << structure.output;
    EXPECT_EQ(objects[0], "pkcs7-signedData");
    EXPECT_EQ(objects[1], "sm3");
    EXPECT_EQ(objects[2], "pkcs7-data");
    EXPECT_EQ(objects[objects.size() - 2], "sm3");
    EXPECT_EQ(objects.back(), "sm2");
    EXPECT_TRUE(contains(p7, s.certificate));

    expectCmsVerifies(packet, false);
    expectSm2Verifies(s, packet);
}

TEST_F(Pkcs7SignedData, Sm2ValuesAreMinimalIntegers) {
    const Bytes& certificate = signer("sm2").certificate;
    const std::string high(64, 'a');
    const std::string low(64, '3');
    const std::string zeroLow = "007f" + std::string(60, '1');
    const std::string zerosHigh = "0000" + std::string(60, '9');
    // The SignerInfo ends with 04 L { 30 L { INTEGER r, INTEGER s } }.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {high + high,
         "0448304602210"
         "0" +
             high + "022100" + high},
        {low + low,
         "04463044"
         "0220" +
             low + "0220" + low},
        {zeroLow + low,
         "0445304302"
         "1f" +
             zeroLow.substr(2) + "0220" + low},
        {low + zerosHigh,
         "0445304302"
         "20" +
             low + "021f00" + zerosHigh.substr(4)},
        {std::string(64, '0') + low,
         "0427302502"
         "0100"
         "0220" +
             low},
    };
    for (const auto& [signature, encryptedDigest] : cases) {
        const std::optional<Bytes> signerInfos =
            buildSignerInfoSm2(fromHex(signature), certificate);
        ASSERT_TRUE(signerInfos);
        const std::string hex = toHex(*signerInfos);
        EXPECT_EQ(hex.substr(hex.size() - encryptedDigest.size()), encryptedDigest) << signature;
    }
    EXPECT_FALSE(buildSignerInfoSm2(Bytes(63, 1), certificate));
    EXPECT_FALSE(buildSignerInfoSm2(Bytes(65, 1), certificate));
}

// About one SM2 signature in 128 has r or s starting with a zero byte and
// then a byte below 0x80; openssl refuses such a value kept at 32 bytes.
TEST_F(Pkcs7SignedData, Sm2SignatureWithALeadingZeroVerifies) {
    const Signer& s = signer("sm2");
    const EvpPkeyPtr key = loadKey(s);
    const Bytes content = fromHex("11000000000000001b");
    Bytes signature;
    for (int attempt = 0; attempt < 20000 && signature.empty(); ++attempt) {
        Bytes candidate = signSm2(key.get(), content);
        if ((candidate[0] == 0 && candidate[1] < 0x80) ||
            (candidate[32] == 0 && candidate[33] < 0x80)) {
            signature = std::move(candidate);
        }
    }
    ASSERT_FALSE(signature.empty());
    build(content, s, signature, kHashIdSm3);
    expectSm2Verifies(s, content);
}

// The size reserved before the key signs is never below what the signature
// then needs, also where a length changes form.
TEST_F(Pkcs7SignedData, Sm2SizeBoundNeverBelowTheRealSize) {
    const Bytes& certificate = signer("sm2").certificate;
    const std::string high(64, 'f');
    const std::string low(64, '1');
    const std::string zeros = "0001" + std::string(60, '1');
    const std::vector<Bytes> signatures = {fromHex(high + high), fromHex(high + low),
                                           fromHex(low + high), fromHex(low + low),
                                           fromHex(zeros + zeros)};
    const Bytes content(65600, 'q');
    std::size_t jumps = 0;
    for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, 400}, {64800, 65600}}) {
        std::size_t previous = 0;
        for (std::size_t length = from; length <= to; ++length) {
            const auto part = std::span(content).first(length);
            const std::optional<std::size_t> bound = pkcs7SignedDataSm2SizeBound(part, certificate);
            ASSERT_TRUE(bound);
            for (const Bytes& signature : signatures) {
                const std::optional<std::size_t> size =
                    buildPkcs7SignedDataSm2(part, kContentEmbedded, certificate, signature, {});
                ASSERT_TRUE(size);
                ASSERT_LE(*size, *bound) << length;
            }
            jumps += previous != 0 && *bound > previous + 1 ? 1 : 0;
            previous = *bound;
        }
    }
    EXPECT_GE(jumps, 3u);  // the ranges did cross length forms
}

TEST_F(Pkcs7SignedData, IssuerAndSerialAsOpensslReadsThem) {
    for (const std::string kind : {"v1", "sm2"}) {
        const Bytes& certificate = signer(kind).certificate;
        const unsigned char* at = certificate.data();
        const X509Ptr x509(d2i_X509(nullptr, &at, static_cast<long>(certificate.size())));
        ASSERT_TRUE(x509);
        unsigned char* issuer = nullptr;
        unsigned char* serial = nullptr;
        const int issuerLength = i2d_X509_NAME(X509_get_issuer_name(x509.get()), &issuer);
        const OpensslBytesPtr issuerOwner(issuer);
        const int serialLength = i2d_ASN1_INTEGER(X509_get0_serialNumber(x509.get()), &serial);
        const OpensslBytesPtr serialOwner(serial);
        const std::optional<Bytes> expected = encodeDerValue(
            kDerTagSequence, concat(Bytes(issuer, issuer + issuerLength),
                                    std::span(serial, static_cast<std::size_t>(serialLength))));
        ASSERT_TRUE(expected);
        EXPECT_EQ(extractIssuerAndSerial(certificate), expected) << kind;
        // As read from the key into a larger buffer: the bytes behind the
        // certificate are not part of it.
        Bytes padded = certificate;
        padded.resize(4096, 0);
        EXPECT_EQ(extractIssuerAndSerial(padded), expected);
    }
}

TEST_F(Pkcs7SignedData, CertificatesThatCannotBeWalkedAreRefused) {
    const Bytes certificate = signer("rsa2048").certificate;
    // Every truncation, in a buffer of its own size: the sanitizer reports any
    // read past it.
    for (std::size_t length = 0; length < certificate.size(); ++length) {
        const Bytes cut(certificate.begin(),
                        certificate.begin() + static_cast<std::ptrdiff_t>(length));
        ASSERT_FALSE(extractIssuerAndSerial(cut)) << length;
        ASSERT_FALSE(
            buildPkcs7SignedDataRsa({}, kContentEmbedded, cut, Bytes(256, 1), {}, kHashIdSha1));
    }
    // Another outer tag; a version field that is not A0 03; four length bytes.
    Bytes wrongTag = certificate;
    wrongTag[0] = 0x31;
    EXPECT_FALSE(extractIssuerAndSerial(wrongTag));
    Bytes badVersion = certificate;
    ASSERT_EQ(toHex(std::span(badVersion).subspan(8, 2)), "a003");
    badVersion[9] = 0x04;
    EXPECT_FALSE(extractIssuerAndSerial(badVersion));
    const Bytes longForm = concat(fromHex("308400"
                                          "00"),
                                  std::span(certificate).subspan(2));
    EXPECT_FALSE(extractIssuerAndSerial(longForm));
}

}  // namespace
}  // namespace orva::api
