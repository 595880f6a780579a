#include "envelope.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto_test_support.h"

namespace orva::softkey {
namespace {

using test::fromHex;
using test::openssl;
using test::pemText;
using test::readFile;
using test::secure;
using test::TempDir;
using test::toHex;
using test::writeFile;

// The SM2 curve's order and base point.
const Bytes kOrder = fromHex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
const Bytes kPrime = fromHex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF");
const Bytes kGx = fromHex("32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7");
const Bytes kGy = fromHex("BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0");
const Bytes kKeyBits = {0x00, 0x00, 0x01, 0x00};

// a + delta or a - b on 32-byte big-endian numbers (no overflow in our uses).
Bytes plus(Bytes a, int delta) {
    for (std::size_t i = a.size(); i-- > 0 && delta != 0;) {
        const int v = a[i] + delta;
        a[i] = static_cast<std::uint8_t>(v & 0xff);
        delta = v < 0 ? -1 : v >> 8;
    }
    return a;
}

Bytes minus(const Bytes& a, const Bytes& b) {
    Bytes out(a.size());
    int borrow = 0;
    for (std::size_t i = a.size(); i-- > 0;) {
        const int v = a[i] - b[i] - borrow;
        out[i] = static_cast<std::uint8_t>(v & 0xff);
        borrow = v < 0 ? 1 : 0;
    }
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

const SecureString& rsaSignatureKey() {
    static const SecureString key = generateKeyPair(kAlgRsa1024).privatePem;
    return key;
}

class EnvelopeTest : public ::testing::Test {
  protected:
    // The private scalar as openssl prints it, as 32 bytes.
    Bytes opensslScalar(const SecureString& pem) {
        writeFile(dir_.file("scalar.pem"), pemText(pem));
        const auto run = openssl("pkey -in " + dir_.arg("scalar.pem") + " -text -noout");
        EXPECT_EQ(run.status, 0) << run.output;
        const std::size_t from = run.output.find("priv:");
        const std::size_t to = run.output.find("pub:");
        std::string hex;
        for (std::size_t i = from + 5; i < to && i < run.output.size(); ++i) {
            if (std::isxdigit(static_cast<unsigned char>(run.output[i]))) {
                hex += run.output[i];
            }
        }
        Bytes d = fromHex(hex);
        while (d.size() > 32 && d[0] == 0) {
            d.erase(d.begin());
        }
        d.insert(d.begin(), 32 - std::min<std::size_t>(d.size(), 32), 0);
        return d;
    }

    static Bytes pointOf(const SecureString& pem) {
        const Bytes file = publicKeyFile(pem);
        return concat(
            {Bytes(file.begin() + 2, file.begin() + 34), Bytes(file.begin() + 36, file.end())});
    }

    // An envelope made with the openssl command line only: A by pkeyutl, B by enc.
    Envelope opensslEnvelope(const SecureString& signatureKey, std::uint32_t word,
                             const Bytes& keyPair) {
        const Bytes session = fromHex("00112233445566778899aabbccddeeff");
        writeFile(dir_.file("sig.pem"), pemText(signatureKey));
        writeFile(dir_.file("session"), session);
        writeFile(dir_.file("pair"), keyPair);
        const auto a = openssl("pkeyutl -encrypt -inkey " + dir_.arg("sig.pem") + " -in " +
                               dir_.arg("session") + " -out " + dir_.arg("a"));
        EXPECT_EQ(a.status, 0) << a.output;
        const std::string mode =
            word == kEnvelopeSm4Ecb ? "-sm4-ecb" : "-sm4-cbc -iv " + std::string(32, '0');
        const auto b = openssl("enc " + mode + " -nopad -K " + toHex(session) + " -in " +
                               dir_.arg("pair") + " -out " + dir_.arg("b"));
        EXPECT_EQ(b.status, 0) << b.output;
        return Envelope{readFile(dir_.file("a")), readFile(dir_.file("b")), kKeyBits};
    }

    SecureString open(const SecureString& key, std::uint32_t word, const Envelope& e) {
        return openEnvelope(key, word, e.sessionKey, e.keyPair, e.keyBits);
    }

    TempDir dir_;
};

TEST_F(EnvelopeTest, SealedEnvelopesOpenToTheSameKeyPair) {
    const SecureString sm2Signature = generateKeyPair(kAlgSm2).privatePem;
    for (const SecureString* signature : {&sm2Signature, &rsaSignatureKey()}) {
        for (const std::uint32_t word : {kEnvelopeSm4Ecb, kEnvelopeSm4Cbc}) {
            SCOPED_TRACE(std::to_string(algorithmOf(*signature)) + " " + std::to_string(word));
            const SecureString newKey = generateKeyPair(kAlgSm2).privatePem;
            const Envelope e = sealEnvelope(publicKeyPem(*signature), word, newKey);
            EXPECT_EQ(e.keyPair.size(), 96u);
            EXPECT_EQ(e.keyBits, kKeyBits);

            const SecureString opened = open(*signature, word, e);
            EXPECT_EQ(algorithmOf(opened), kAlgSm2);
            EXPECT_EQ(publicKeyFile(opened), publicKeyFile(newKey));
            EXPECT_EQ(opensslScalar(opened), opensslScalar(newKey));
        }
    }
}

TEST_F(EnvelopeTest, OpensslReadsWhatWeSeal) {
    const SecureString signature = generateKeyPair(kAlgSm2).privatePem;
    const SecureString newKey = generateKeyPair(kAlgSm2).privatePem;
    const Bytes expected = concat({opensslScalar(newKey), pointOf(newKey)});
    writeFile(dir_.file("sig.pem"), pemText(signature));
    for (const std::uint32_t word : {kEnvelopeSm4Ecb, kEnvelopeSm4Cbc}) {
        const Envelope e = sealEnvelope(publicKeyPem(signature), word, newKey);
        writeFile(dir_.file("a"), e.sessionKey);
        writeFile(dir_.file("b"), e.keyPair);
        const auto a = openssl("pkeyutl -decrypt -inkey " + dir_.arg("sig.pem") + " -in " +
                               dir_.arg("a") + " -out " + dir_.arg("session"));
        ASSERT_EQ(a.status, 0) << a.output;
        const Bytes session = readFile(dir_.file("session"));
        ASSERT_EQ(session.size(), 16u);
        const std::string mode =
            word == kEnvelopeSm4Ecb ? "-sm4-ecb" : "-sm4-cbc -iv " + std::string(32, '0');
        const auto b = openssl("enc -d " + mode + " -nopad -K " + toHex(session) + " -in " +
                               dir_.arg("b") + " -out " + dir_.arg("pair"));
        ASSERT_EQ(b.status, 0) << b.output;
        EXPECT_EQ(readFile(dir_.file("pair")), expected) << word;
    }
}

TEST_F(EnvelopeTest, OpensEnvelopesOpensslMade) {
    const SecureString signature = generateKeyPair(kAlgSm2).privatePem;
    const SecureString newKey = generateKeyPair(kAlgSm2).privatePem;
    const SecureString otherKey = generateKeyPair(kAlgSm2).privatePem;
    const Bytes d = opensslScalar(newKey);
    for (const std::uint32_t word : {kEnvelopeSm4Ecb, kEnvelopeSm4Cbc}) {
        SCOPED_TRACE(word);
        const SecureString opened =
            open(signature, word, opensslEnvelope(signature, word, concat({d, pointOf(newKey)})));
        EXPECT_EQ(publicKeyFile(opened), publicKeyFile(newKey));

        // One key's scalar with another key's point.
        EXPECT_THROW(
            open(signature, word, opensslEnvelope(signature, word, concat({d, pointOf(otherKey)}))),
            CryptoError);
    }
}

TEST_F(EnvelopeTest, RefusesScalarsOutsideTheKeyRange) {
    const SecureString signature = generateKeyPair(kAlgSm2).privatePem;
    const Bytes g = concat({kGx, kGy});
    const Bytes minusG = concat({kGx, minus(kPrime, kGy)});
    const Bytes one = plus(Bytes(32, 0), 1);
    // d = 1 with G is a key, if a poor one: the builder itself works.
    EXPECT_NO_THROW(open(signature, kEnvelopeSm4Ecb,
                         opensslEnvelope(signature, kEnvelopeSm4Ecb, concat({one, g}))));
    // n + 1 gives G too, and n - 1 gives -G, but neither is a valid scalar.
    EXPECT_THROW(open(signature, kEnvelopeSm4Ecb,
                      opensslEnvelope(signature, kEnvelopeSm4Ecb, concat({plus(kOrder, 1), g}))),
                 CryptoError);
    EXPECT_THROW(
        open(signature, kEnvelopeSm4Ecb,
             opensslEnvelope(signature, kEnvelopeSm4Ecb, concat({plus(kOrder, -1), minusG}))),
        CryptoError);
    EXPECT_THROW(open(signature, kEnvelopeSm4Ecb,
                      opensslEnvelope(signature, kEnvelopeSm4Ecb, concat({Bytes(32, 0), g}))),
                 CryptoError);
}

TEST_F(EnvelopeTest, RefusesDamagedEnvelopes) {
    const SecureString signature = generateKeyPair(kAlgSm2).privatePem;
    const SecureString newKey = generateKeyPair(kAlgSm2).privatePem;
    for (const std::uint32_t word : {kEnvelopeSm4Ecb, kEnvelopeSm4Cbc}) {
        SCOPED_TRACE(word);
        const Envelope good = sealEnvelope(publicKeyPem(signature), word, newKey);
        ASSERT_NO_THROW(open(signature, word, good));

        for (const std::size_t offset :
             {std::size_t{0}, good.sessionKey.size() / 2, good.sessionKey.size() - 1}) {
            Envelope bad = good;
            bad.sessionKey[offset] ^= 0x01;
            EXPECT_THROW(open(signature, word, bad), CryptoError) << "A at " << offset;
        }
        // In the scalar, in X, in Y.
        for (const std::size_t offset : {0u, 31u, 40u, 70u, 95u}) {
            Envelope bad = good;
            bad.keyPair[offset] ^= 0x01;
            EXPECT_THROW(open(signature, word, bad), CryptoError) << "B at " << offset;
        }
        for (const std::size_t offset : {0u, 1u, 2u, 3u}) {
            Envelope bad = good;
            bad.keyBits[offset] ^= 0x01;
            EXPECT_THROW(open(signature, word, bad), CryptoError) << "C at " << offset;
        }

        const std::vector<std::pair<const char*, void (*)(Envelope&)>> sizes = {
            {"empty A", [](Envelope& e) { e.sessionKey.clear(); }},
            {"empty B", [](Envelope& e) { e.keyPair.clear(); }},
            {"short B", [](Envelope& e) { e.keyPair.pop_back(); }},
            {"long B", [](Envelope& e) { e.keyPair.push_back(0); }},
            {"B one block short", [](Envelope& e) { e.keyPair.resize(80); }},
            {"empty C", [](Envelope& e) { e.keyBits.clear(); }},
            {"short C", [](Envelope& e) { e.keyBits.erase(e.keyBits.begin()); }},
            {"long C", [](Envelope& e) { e.keyBits.insert(e.keyBits.begin(), 0); }},
        };
        for (const auto& [name, mutate] : sizes) {
            Envelope bad = good;
            mutate(bad);
            EXPECT_THROW(open(signature, word, bad), CryptoError) << name;
        }

        EXPECT_THROW(open(generateKeyPair(kAlgSm2).privatePem, word, good), CryptoError);
        EXPECT_THROW(open(rsaSignatureKey(), word, good), CryptoError);
        // ECB and CBC with a zero IV agree on the first block only.
        const std::uint32_t other = word == kEnvelopeSm4Ecb ? kEnvelopeSm4Cbc : kEnvelopeSm4Ecb;
        EXPECT_THROW(open(signature, other, good), CryptoError);
        for (const std::uint32_t unknown : {0u, 209u, 211u}) {
            EXPECT_THROW(open(signature, unknown, good), CryptoError) << unknown;
        }
    }
}

TEST_F(EnvelopeTest, SealingRefusesWhatCannotBeSealed) {
    const SecureString signature = generateKeyPair(kAlgSm2).privatePem;
    const SecureString newKey = generateKeyPair(kAlgSm2).privatePem;
    EXPECT_THROW(sealEnvelope(publicKeyPem(signature), 209, newKey), CryptoError);
    // B holds an SM2 key pair and nothing else.
    EXPECT_THROW(sealEnvelope(publicKeyPem(signature), kEnvelopeSm4Ecb, rsaSignatureKey()),
                 CryptoError);
    EXPECT_THROW(sealEnvelope("not a key", kEnvelopeSm4Ecb, newKey), CryptoError);
    EXPECT_THROW(sealEnvelope(publicKeyPem(signature), kEnvelopeSm4Ecb, SecureString()),
                 CryptoError);
}

}  // namespace
}  // namespace orva::softkey
