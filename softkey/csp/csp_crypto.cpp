#include "csp_crypto.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>

#include "win32/cng.h"
#include "win32/cryptoapi.h"

namespace orva::qzcore3 {

namespace {

[[noreturn]] void fail(std::int32_t code) {
    throw CspError(code);
}

void require(bool ok, std::int32_t code) {
    if (!ok) {
        fail(code);
    }
}

const EVP_MD* digestOf(std::uint32_t algId) {
    switch (algId) {
        case CALG_MD5:
            return EVP_md5();
        case CALG_SHA1:
            return EVP_sha1();
        case CALG_SSL3_SHAMD5:
            return EVP_md5_sha1();
        case CALG_SHA_256:
            return EVP_sha256();
        case CALG_SHA_384:
            return EVP_sha384();
        case CALG_SHA_512:
            return EVP_sha512();
        default:
            fail(NTE_BAD_ALGID);
    }
}

KeyPair describe(EvpPkeyPtr pkey) {
    KeyPair key;
    const int bits = EVP_PKEY_get_bits(pkey.get());
    if (EVP_PKEY_is_a(pkey.get(), "RSA")) {
        key.kind = KeyKind::rsa;
        require(bits == 1024 || bits == 2048 || bits == 4096, NTE_BAD_KEY);
    } else if (EVP_PKEY_is_a(pkey.get(), "EC")) {
        key.kind = KeyKind::ec;
        require(bits == 256 || bits == 384, NTE_BAD_KEY);
    } else {
        fail(NTE_BAD_KEY);
    }
    key.bits = static_cast<std::uint32_t>(bits);
    key.pkey = std::move(pkey);
    return key;
}

EvpPkeyCtxPtr contextFor(const KeyPair& key) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey.get(), nullptr));
    require(ctx != nullptr, NTE_NO_MEMORY);
    return ctx;
}

void setRsaPadding(EVP_PKEY_CTX* ctx, std::uint32_t hashAlg, bool pss) {
    if (pss) {
        // PSS over the 36-byte SSL3 hash has no standard encoding.
        require(hashAlg != CALG_SSL3_SHAMD5, NTE_BAD_ALGID);
        require(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) > 0 &&
                    EVP_PKEY_CTX_set_signature_md(ctx, digestOf(hashAlg)) > 0 &&
                    EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, digestOf(hashAlg)) > 0 &&
                    EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, RSA_PSS_SALTLEN_DIGEST) > 0,
                NTE_BAD_ALGID);
    } else {
        require(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
                    EVP_PKEY_CTX_set_signature_md(ctx, digestOf(hashAlg)) > 0,
                NTE_BAD_ALGID);
    }
}

std::size_t fieldBytes(const KeyPair& key) {
    return (key.bits + 7) / 8;
}

BignumPtr bnParam(const KeyPair& key, const char* name) {
    BIGNUM* value = nullptr;
    require(EVP_PKEY_get_bn_param(key.pkey.get(), name, &value) == 1, NTE_BAD_KEY);
    return BignumPtr(value);
}

void appendBigEndian(Bytes& out, const BIGNUM* value, std::size_t size) {
    const std::size_t at = out.size();
    out.resize(at + size);
    require(BN_bn2binpad(value, out.data() + at, static_cast<int>(size)) >= 0, NTE_BAD_KEY);
}

template <typename T>
void appendStruct(Bytes& out, const T& value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

}  // namespace

KeyPair generateKey(std::uint32_t genKeyFlags) {
    const bool ec = (genKeyFlags & 0x40000000u) != 0;
    std::uint32_t bits = ec ? (genKeyFlags >> 16) & 0x3FFFu : genKeyFlags >> 16;
    if (bits == 0) {
        bits = ec ? 256 : 2048;
    }
    EvpPkeyPtr pkey;
    if (ec) {
        require(bits == 256 || bits == 384, NTE_BAD_FLAGS);
        pkey.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", bits == 256 ? "P-256" : "P-384"));
    } else {
        require(bits == 1024 || bits == 2048 || bits == 4096, NTE_BAD_FLAGS);
        pkey.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
    }
    require(pkey != nullptr, NTE_NO_MEMORY);
    return describe(std::move(pkey));
}

KeyPair loadPrivateKey(const SecureString& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    require(bio != nullptr, NTE_NO_MEMORY);
    EvpPkeyPtr pkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    require(pkey != nullptr, NTE_BAD_KEY);
    return describe(std::move(pkey));
}

SecureString privateKeyPem(const KeyPair& key) {
    BioPtr bio(BIO_new(BIO_s_secmem()));
    require(bio != nullptr && PEM_write_bio_PrivateKey(bio.get(), key.pkey.get(), nullptr, nullptr,
                                                       0, nullptr, nullptr) == 1,
            NTE_NO_MEMORY);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return SecureString(data, static_cast<std::size_t>(size));
}

std::size_t hashLength(std::uint32_t algId) noexcept {
    switch (algId) {
        case CALG_MD5:
            return 16;
        case CALG_SHA1:
            return 20;
        case CALG_SSL3_SHAMD5:
            return 36;
        case CALG_SHA_256:
            return 32;
        case CALG_SHA_384:
            return 48;
        case CALG_SHA_512:
            return 64;
        default:
            return 0;
    }
}

Bytes signHash(const KeyPair& key, std::uint32_t hashAlg, std::span<const std::uint8_t> hash,
               bool pss) {
    EvpPkeyCtxPtr ctx = contextFor(key);
    require(EVP_PKEY_sign_init(ctx.get()) == 1, NTE_BAD_KEY);
    if (key.kind == KeyKind::rsa) {
        setRsaPadding(ctx.get(), hashAlg, pss);
    }
    std::size_t size = 0;
    require(EVP_PKEY_sign(ctx.get(), nullptr, &size, hash.data(), hash.size()) == 1, NTE_BAD_HASH);
    Bytes signature(size);
    require(EVP_PKEY_sign(ctx.get(), signature.data(), &size, hash.data(), hash.size()) == 1,
            NTE_BAD_HASH);
    signature.resize(size);
    if (key.kind == KeyKind::ec) {
        const unsigned char* p = signature.data();
        EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(signature.size())));
        require(sig != nullptr, NTE_BAD_HASH);
        const std::size_t field = fieldBytes(key);
        Bytes rs;
        appendBigEndian(rs, ECDSA_SIG_get0_r(sig.get()), field);
        appendBigEndian(rs, ECDSA_SIG_get0_s(sig.get()), field);
        signature = std::move(rs);
    }
    std::reverse(signature.begin(), signature.end());
    return signature;
}

bool verifyHash(const KeyPair& key, std::uint32_t hashAlg, std::span<const std::uint8_t> hash,
                std::span<const std::uint8_t> signatureLe, bool pss) {
    Bytes signature(signatureLe.rbegin(), signatureLe.rend());
    if (key.kind == KeyKind::ec) {
        const std::size_t field = fieldBytes(key);
        if (signature.size() != 2 * field) {
            return false;
        }
        EcdsaSigPtr sig(ECDSA_SIG_new());
        BignumPtr r(BN_bin2bn(signature.data(), static_cast<int>(field), nullptr));
        BignumPtr s(BN_bin2bn(signature.data() + field, static_cast<int>(field), nullptr));
        require(sig && r && s && ECDSA_SIG_set0(sig.get(), r.get(), s.get()) == 1, NTE_NO_MEMORY);
        r.release();
        s.release();
        unsigned char* der = nullptr;
        const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
        require(derSize > 0, NTE_NO_MEMORY);
        OpensslBytesPtr owned(der);
        signature.assign(der, der + derSize);
    } else if (signature.size() != modulusBytes(key)) {
        return false;
    }
    EvpPkeyCtxPtr ctx = contextFor(key);
    require(EVP_PKEY_verify_init(ctx.get()) == 1, NTE_BAD_KEY);
    if (key.kind == KeyKind::rsa) {
        setRsaPadding(ctx.get(), hashAlg, pss);
    }
    return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), hash.data(),
                           hash.size()) == 1;
}

std::size_t modulusBytes(const KeyPair& key) {
    return (key.bits + 7) / 8;
}

Bytes rsaEncrypt(const KeyPair& key, std::span<const std::uint8_t> plaintext) {
    require(key.kind == KeyKind::rsa, NTE_BAD_KEY);
    require(plaintext.size() + 11 <= modulusBytes(key), NTE_BAD_LEN);
    EvpPkeyCtxPtr ctx = contextFor(key);
    require(EVP_PKEY_encrypt_init(ctx.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0,
            NTE_BAD_KEY);
    std::size_t size = modulusBytes(key);
    Bytes out(size);
    require(EVP_PKEY_encrypt(ctx.get(), out.data(), &size, plaintext.data(), plaintext.size()) == 1,
            NTE_BAD_DATA);
    out.resize(size);
    std::reverse(out.begin(), out.end());
    return out;
}

SecureBytes rsaDecrypt(const KeyPair& key, std::span<const std::uint8_t> ciphertextLe) {
    require(key.kind == KeyKind::rsa, NTE_BAD_KEY);
    require(ciphertextLe.size() == modulusBytes(key), NTE_BAD_DATA);
    const Bytes ciphertext(ciphertextLe.rbegin(), ciphertextLe.rend());
    EvpPkeyCtxPtr ctx = contextFor(key);
    require(EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0,
            NTE_BAD_KEY);
    std::size_t size = modulusBytes(key);
    SecureBytes out(size);
    require(
        EVP_PKEY_decrypt(ctx.get(), out.data(), &size, ciphertext.data(), ciphertext.size()) == 1,
        NTE_BAD_DATA);
    out.resize(size);
    return out;
}

Bytes exportPublicBlob(const KeyPair& key, std::uint32_t blobType, std::uint32_t keySpec) {
    Bytes blob;
    if (blobType == PUBLICKEYBLOB || blobType == 13) {
        require(key.kind == KeyKind::rsa, NTE_BAD_KEY);
        const BignumPtr n = bnParam(key, OSSL_PKEY_PARAM_RSA_N);
        const BignumPtr e = bnParam(key, OSSL_PKEY_PARAM_RSA_E);
        const std::size_t k = modulusBytes(key);
        if (blobType == PUBLICKEYBLOB) {
            BN_ULONG exponent = BN_get_word(e.get());
            require(exponent <= 0xFFFFFFFFu, NTE_BAD_KEY);
            const BLOBHEADER header{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0,
                                    keySpec == AT_KEYEXCHANGE ? CALG_RSA_KEYX : CALG_RSA_SIGN};
            const RSAPUBKEY rsa{RSA1_MAGIC, key.bits, static_cast<DWORD>(exponent)};
            appendStruct(blob, header);
            appendStruct(blob, rsa);
            const std::size_t at = blob.size();
            appendBigEndian(blob, n.get(), k);
            std::reverse(blob.begin() + static_cast<std::ptrdiff_t>(at), blob.end());
        } else {
            const std::size_t eBytes = static_cast<std::size_t>(BN_num_bytes(e.get()));
            const BCRYPT_RSAKEY_BLOB header{
                BCRYPT_RSAPUBLIC_MAGIC, key.bits, static_cast<ULONG>(eBytes),
                static_cast<ULONG>(k),  0,        0};
            appendStruct(blob, header);
            appendBigEndian(blob, e.get(), eBytes);
            appendBigEndian(blob, n.get(), k);
        }
        return blob;
    }
    if (blobType == 14) {
        require(key.kind == KeyKind::ec, NTE_BAD_KEY);
        const std::size_t field = fieldBytes(key);
        unsigned char point[1 + 2 * 66];
        std::size_t size = 0;
        require(EVP_PKEY_get_octet_string_param(key.pkey.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY,
                                                point, sizeof point, &size) == 1 &&
                    size == 1 + 2 * field && point[0] == 0x04,
                NTE_BAD_KEY);
        const BCRYPT_ECCKEY_BLOB header{
            key.bits == 256 ? BCRYPT_ECDSA_PUBLIC_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P384_MAGIC,
            static_cast<ULONG>(field)};
        appendStruct(blob, header);
        blob.insert(blob.end(), point + 1, point + size);
        return blob;
    }
    fail(NTE_BAD_TYPE);
}

bool certificateMatches(const KeyPair& key, X509* certificate) {
    EVP_PKEY* own = X509_get0_pubkey(certificate);
    return own != nullptr && EVP_PKEY_eq(own, key.pkey.get()) == 1;
}

}  // namespace orva::qzcore3
