#include "der_writer.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <optional>
#include <string>

#include "formats_test_support.h"
#include "orva/openssl_ptr.h"
#include "orva_result_codes.h"

namespace orva::api {
namespace {

using namespace std::string_view_literals;
using test::fromHex;
using test::toHex;

TEST(DerLength, ShortAndLongFormsAtEveryThreshold) {
    for (const auto& [length, encoded] : {std::pair{0ull, "00"sv},
                                          {127ull, "7f"sv},
                                          {128ull, "8180"sv},
                                          {255ull, "81ff"sv},
                                          {256ull, "820100"sv},
                                          {65535ull, "82ffff"sv},
                                          {65536ull, "83010000"sv},
                                          {16777215ull, "83ffffff"sv},
                                          {16777216ull, "8401000000"sv},
                                          {0xFFFFFFFFull, "84ffffffff"sv}}) {
        const std::optional<Bytes> out = encodeDerLength(length);
        ASSERT_TRUE(out) << length;
        EXPECT_EQ(toHex(*out), encoded);
        EXPECT_EQ(derHeaderSize(length), 1 + out->size());
    }
    EXPECT_FALSE(encodeDerLength(0x100000000));
}

TEST(DerReaders, LengthFormsTagsAndBounds) {
    for (const auto header : {"02 02"sv, "02 81 02"sv, "02 82 00 02"sv, "02 83 00 00 02"sv}) {
        const Bytes in = fromHex(std::string(header) + " aa bb cc");
        const std::optional<DerElement> element = readDerInteger(in);
        ASSERT_TRUE(element) << header;
        EXPECT_EQ(toHex(element->content), "aabb");
        EXPECT_EQ(element->tlv.size(), in.size() - 1);
    }
    const Bytes sequence = fromHex("30 03 02 01 05");
    const std::optional<DerElement> element = readDerSequence(sequence);
    ASSERT_TRUE(element);
    EXPECT_EQ(toHex(element->content), "020105");
    // Four length bytes, indefinite length, values past the end, the other tag.
    for (const auto bad : {"02 84 00 00 00 01 aa"sv, "02 80 aa 00 00"sv, "02 03 aa bb"sv,
                           "02 82 01"sv, "02"sv, ""sv, "30 01 aa"sv, "02 81"sv}) {
        EXPECT_FALSE(readDerInteger(fromHex(bad))) << bad;
    }
    EXPECT_FALSE(readDerSequence(fromHex("02 01 00")));
}

TEST(DerIntegerAndSequence, ValuesAsTheyStandBelow16MiB) {
    EXPECT_EQ(toHex(encodeDerInteger(fromHex("0080")).value()), "02020080");
    const Bytes largest(kDerIntegerValueLimit - 1, 0x11);
    const std::optional<Bytes> sequence = encodeDerSequence(largest);
    ASSERT_TRUE(sequence);
    EXPECT_EQ(toHex(std::span(*sequence).first(5)), "3083ffffff");
    EXPECT_FALSE(encodeDerInteger(Bytes(kDerIntegerValueLimit, 0x11)));
    EXPECT_FALSE(encodeDerSequence(Bytes(kDerIntegerValueLimit, 0x11)));
}

// Borrowed and owned pieces, wrapped, written whole; an out one byte short is
// refused with nothing written, in DER and in base64 alike.
TEST(DerChain, WritesWholeOrNothing) {
    const Bytes borrowed = fromHex("0102 0304");
    DerChain chain;
    chain.appendBorrowed(borrowed);
    chain.append(fromHex("05"));
    chain.prepend(fromHex("00"));
    ASSERT_EQ(chain.wrap(kDerTagSequence), kSuccess);
    EXPECT_EQ(toHex(chain.toBytes()), "3006000102030405");
    Bytes out(chain.size() + 1, 0xEE);
    EXPECT_EQ(chain.writeTo(std::span(out).first(chain.size() - 1)), kBufferTooSmall);
    EXPECT_EQ(out, Bytes(chain.size() + 1, 0xEE));
    ASSERT_EQ(chain.writeTo(out), kSuccess);
    EXPECT_EQ(toHex(out), "3006000102030405ee");
    std::string text(13, '#');
    EXPECT_FALSE(chain.writeBase64To(std::span(text).first(11)));
    EXPECT_EQ(text, std::string(13, '#'));
    ASSERT_EQ(chain.writeBase64To(text), 12u);
    EXPECT_EQ(text, "MAYAAQIDBAU=#");
}

TEST(EncodeRsaPublicKey, ZeroBytesOnlyBeforeAHighBit) {
    Bytes modulus(256, 0x5A);
    modulus[0] = 0xC3;
    const std::optional<Bytes> out = encodeRsaPublicKey(modulus, fromHex("010001"));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 270u);
    EXPECT_EQ(toHex(std::span(*out).first(10)), "3082010a0282010100c3");
    EXPECT_EQ(toHex(std::span(*out).last(5)), "0203010001");
    // The exponent alike; leading zeros stay as given.
    EXPECT_EQ(toHex(encodeRsaPublicKey(fromHex("0012"), fromHex("80")).value()),
              "3008"
              "02020012"
              "02020080");
    EXPECT_FALSE(encodeRsaPublicKey({}, fromHex("03")));
    EXPECT_FALSE(encodeRsaPublicKey(fromHex("03"), {}));
}

TEST(EncodeRsaPublicKey, SameBytesAsOpenssl) {
    const test::TempDir dir;
    for (const char* bits : {"1024", "2048"}) {
        ASSERT_EQ(test::openssl(std::string("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:") +
                                bits + " -out " + dir.arg("k.pem"))
                      .status,
                  0);
        const auto run =
            test::openssl("rsa -in " + dir.arg("k.pem") + " -RSAPublicKey_out -outform DER -out " +
                          dir.arg("pub.der"));
        ASSERT_EQ(run.status, 0) << run.output;

        const BioPtr bio(BIO_new_file(dir.file("k.pem").c_str(), "r"));
        const EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
        ASSERT_TRUE(key);
        const auto param = [&key](const char* name) {
            BIGNUM* raw = nullptr;
            EXPECT_EQ(EVP_PKEY_get_bn_param(key.get(), name, &raw), 1);
            const BignumPtr value(raw);
            Bytes bytes(static_cast<std::size_t>(BN_num_bytes(value.get())));
            BN_bn2bin(value.get(), bytes.data());
            return bytes;
        };
        EXPECT_EQ(encodeRsaPublicKey(param(OSSL_PKEY_PARAM_RSA_N), param(OSSL_PKEY_PARAM_RSA_E)),
                  test::readFile(dir.file("pub.der")))
            << bits;
    }
}

}  // namespace
}  // namespace orva::api
