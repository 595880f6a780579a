// The road a caller takes: keys made, used and listed through cng-host, one
// process per step, every output checked with the openssl command line
// against the public keys the provider exports.

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <string>
#include <vector>

#include "ksp_fixture.h"
#include "orva/openssl_ptr.h"
#include "orva/testing/openssl.h"

namespace orva::ksp_test {
namespace {

using testing::fromHex;
using testing::toHex;

class CngHost : public ::testing::Test {
  protected:
    // cng-host's printed status and hex line.
    struct Printed {
        std::string status;
        std::string data;
    };

    Printed host(std::vector<std::string> args) {
        args.insert(args.begin(), {"--provider", env.providerPath().string()});
        const auto result = testing::runProgram(std::string(KSP_TEST_BIN_DIR) + "/cng-host", args);
        Printed printed;
        const auto newline = result.out.find('\n');
        printed.status = result.out.substr(0, newline);
        if (newline != std::string::npos && newline + 1 < result.out.size()) {
            printed.data = result.out.substr(newline + 1);
            printed.data.pop_back();
        }
        return printed;
    }
    std::string ok(const std::vector<std::string>& args) {
        const Printed printed = host(args);
        EXPECT_EQ(printed.status, "status 0x00000000") << args[0];
        return printed.data;
    }
    fs::path file(const std::string& name, const Bytes& bytes) const {
        const fs::path path = env.dir() / name;
        testing::writeFile(path, bytes);
        return path;
    }
    std::string openssl(const std::string& arguments) const {
        const auto result = testing::openssl(arguments);
        EXPECT_EQ(result.status, 0) << arguments << "\n" << result.output;
        return result.output;
    }
    // The private key the CSP module holds, for OpenSSL's side of the checks.
    fs::path privateKey(const std::string& name) const {
        const auto result = testing::runProgram(std::string(KSP_TEST_BIN_DIR) + "/softkey",
                                                {"csp-export-key", "--name", name});
        EXPECT_EQ(result.exit, 0) << result.err;
        const fs::path path = env.dir() / (name + ".key.pem");
        testing::writeFile(path, result.out);
        return path;
    }

    KspEnvironment env;
};

std::string pemOf(EVP_PKEY* key) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PUBKEY(bio.get(), key);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

// The public key the parameters describe, as PEM.
std::string publicPem(const char* type, OSSL_PARAM_BLD* build) {
    OsslParamPtr params(OSSL_PARAM_BLD_to_param(build));
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx.get());
    EXPECT_EQ(EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()), 1);
    const EvpPkeyPtr owned(key);
    return pemOf(key);
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// RSAPUBLICBLOB: header, exponent and modulus big-endian.
std::string rsaPublicPem(const Bytes& blob) {
    EXPECT_EQ(le32(blob, 0), 0x31415352u);
    const std::uint32_t eBytes = le32(blob, 8);
    const std::uint32_t nBytes = le32(blob, 12);
    EXPECT_EQ(blob.size(), 24 + eBytes + nBytes);
    BignumPtr e(BN_bin2bn(blob.data() + 24, static_cast<int>(eBytes), nullptr));
    BignumPtr n(BN_bin2bn(blob.data() + 24 + eBytes, static_cast<int>(nBytes), nullptr));
    OsslParamBldPtr build(OSSL_PARAM_BLD_new());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get());
    OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get());
    return publicPem("RSA", build.get());
}

// ECCPUBLICBLOB: magic, field size, X and Y big-endian.
std::string ecPublicPem(const Bytes& blob, const char* group) {
    const std::uint32_t field = le32(blob, 4);
    EXPECT_EQ(blob.size(), 8 + 2 * field);
    Bytes point(blob.size() - 7, 0x04);
    std::copy(blob.begin() + 8, blob.end(), point.begin() + 1);
    OsslParamBldPtr build(OSSL_PARAM_BLD_new());
    OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, 0);
    OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                     point.size());
    return publicPem("EC", build.get());
}

struct Digest {
    const char* name;  // for openssl
    std::size_t size;
};
const Digest kDigests[] = {{"md5", 16},    {"sha1", 20},   {"md5-sha1", 36},
                           {"sha256", 32}, {"sha384", 48}, {"sha512", 64}};

TEST_F(CngHost, RsaKeysSignEncryptAndExportAsOpenSslExpects) {
    struct KeyCase {
        const char* name;
        const char* length;
        bool everyDigest;
    };
    for (const KeyCase& k : {KeyCase{"rsa1024", "1024", false}, KeyCase{"rsa2048", "2048", true},
                             KeyCase{"rsa4096", "4096", false}}) {
        SCOPED_TRACE(k.name);
        ok({"create", k.name, "--length", k.length});
        const Bytes blob = fromHex(ok({"export", k.name, "RSAPUBLICBLOB"}));
        const fs::path pub = env.dir() / (std::string(k.name) + ".pub.pem");
        testing::writeFile(pub, rsaPublicPem(blob));
        const fs::path priv = privateKey(k.name);
        // The exported key is the module's key.
        EXPECT_EQ(openssl("pkey -in " + priv.string() + " -pubout"), testing::readText(pub));
        // The CryptoAPI blob holds the same modulus, little-endian.
        const Bytes capi = fromHex(ok({"export", k.name, "PUBLICBLOB"}));
        const std::uint32_t bits = le32(capi, 12);
        ASSERT_EQ(capi.size(), 20 + bits / 8);
        EXPECT_EQ(Bytes(capi.begin(), capi.begin() + 4), Bytes({0x06, 0x02, 0x00, 0x00}));
        EXPECT_EQ(le32(capi, 4), 0x2400u);
        EXPECT_EQ(le32(capi, 8), 0x31415352u);
        EXPECT_EQ(Bytes(capi.rbegin(), capi.rbegin() + bits / 8),
                  Bytes(blob.end() - bits / 8, blob.end()));

        for (const Digest& d : kDigests) {
            if (!k.everyDigest && std::string(d.name) != "sha256") {
                continue;
            }
            const Bytes hash(d.size, static_cast<std::uint8_t>(d.size));
            const fs::path hashFile = file("hash", hash);
            for (const bool pss : {false, true}) {
                if (pss && d.size == 36) {
                    continue;
                }
                SCOPED_TRACE(std::string(d.name) + (pss ? " pss" : " pkcs1"));
                auto withPadding = [pss](std::vector<std::string> args) {
                    if (pss) {
                        args.push_back("--pss");
                    }
                    return args;
                };
                const fs::path sig =
                    file("sig", fromHex(ok(withPadding({"sign", k.name, toHex(hash)}))));
                const std::string options =
                    std::string(" -pkeyopt digest:") + d.name +
                    (pss ? " -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:digest" : "");
                openssl("pkeyutl -verify -pubin -inkey " + pub.string() + " -in " +
                        hashFile.string() + " -sigfile " + sig.string() + options);
                // OpenSSL's signature verifies through the provider; one bit off does not.
                const fs::path theirs = env.dir() / "theirs";
                openssl("pkeyutl -sign -inkey " + priv.string() + " -in " + hashFile.string() +
                        " -out " + theirs.string() + options);
                Bytes signature = testing::readFile(theirs);
                auto args = withPadding({"verify", k.name, toHex(hash), toHex(signature)});
                EXPECT_EQ(host(args).status, "status 0x00000000");
                signature[signature.size() / 2] ^= 1;
                args[3] = toHex(signature);
                EXPECT_EQ(host(args).status, "status 0x80090006");
            }
        }
        // Encryption both ways.
        const Bytes message = testing::Bytes{'p', 'a', 'y', 'l', 'o', 'a', 'd'};
        const fs::path ciphertext = file("ct", fromHex(ok({"encrypt", k.name, toHex(message)})));
        EXPECT_EQ(
            openssl("pkeyutl -decrypt -inkey " + priv.string() + " -in " + ciphertext.string()),
            "payload");
        const fs::path plain = file("plain", message);
        const fs::path theirs = env.dir() / "theirs.ct";
        openssl("pkeyutl -encrypt -pubin -inkey " + pub.string() + " -in " + plain.string() +
                " -out " + theirs.string());
        EXPECT_EQ(fromHex(ok({"decrypt", k.name, toHex(testing::readFile(theirs))})), message);
    }
}

TEST_F(CngHost, EcKeysSignAsOpenSslExpectsAndKeepCertificates) {
    struct KeyCase {
        const char* name;
        const char* length;
        const char* group;
        const char* digest;
        std::size_t hashBytes;
    };
    for (const KeyCase& k : {KeyCase{"ec256", "256", "P-256", "sha256", 32},
                             KeyCase{"ec384", "384", "P-384", "sha384", 48}}) {
        SCOPED_TRACE(k.name);
        ok({"create", k.name, "--alg", "ECDSA_P256", "--length", k.length});
        const Bytes blob = fromHex(ok({"export", k.name, "ECCPUBLICBLOB"}));
        const fs::path pub = env.dir() / (std::string(k.name) + ".pub.pem");
        testing::writeFile(pub, ecPublicPem(blob, k.group));
        const fs::path priv = privateKey(k.name);
        EXPECT_EQ(openssl("pkey -in " + priv.string() + " -pubout"), testing::readText(pub));
        const Bytes hash(k.hashBytes, 0x3C);
        const Bytes rs = fromHex(ok({"sign", k.name, toHex(hash)}));
        EXPECT_EQ(rs.size(), blob.size() - 8);  // r and s, each as wide as X
        const fs::path sig = file("sig", testing::derSignatureFromRs(rs));
        openssl("pkeyutl -verify -pubin -inkey " + pub.string() + " -in " +
                file("hash", hash).string() + " -sigfile " + sig.string());
        EXPECT_EQ(host({"verify", k.name, toHex(hash), toHex(rs)}).status, "status 0x00000000");

        // A certificate for the key is kept with it and read back whole.
        const fs::path cert = env.dir() / "cert.der";
        openssl("req -new -x509 -key " + priv.string() + " -subj /CN=" + k.name +
                " -days 2 -outform DER -out " + cert.string());
        ok({"set-property", "--key", k.name, "SmartCardKeyCertificate", "--file", cert.string()});
        EXPECT_EQ(fromHex(ok({"property", "--key", k.name, "SmartCardKeyCertificate"})),
                  testing::readFile(cert));
    }
    // Every key made in the other processes is listed.
    const std::string keys = ok({"keys"});
    EXPECT_EQ(keys, "ec256\tECDSA_P256\tspec 2\nec384\tECDSA_P384\tspec 2");
}

}  // namespace
}  // namespace orva::ksp_test
