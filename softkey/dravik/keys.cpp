// Key files: free ids, key generation, public-key files, enciphered public keys
// and the import of an enveloped key pair.

#include <openssl/evp.h>

#include <algorithm>
#include <climits>

#include "envelope.h"
#include "key_crypto.h"
#include "operations.h"
#include "orva/openssl_ptr.h"

namespace orva::dravik {

using softkey::SecureString;

namespace {

constexpr std::size_t kSm4Block = 16;
constexpr std::size_t kSm2GenerationBlock = 68;
constexpr std::size_t kServerRandomBytes = 15;
constexpr std::uint32_t kMaxEnvelopeA = 512;
constexpr std::uint32_t kMaxEnvelopeB = 256;
constexpr std::uint32_t kMaxEnvelopeC = 4;

void requirePin(const Device& device) {
    require(device.pinVerified, DRV_E_SECURITY);
}

// What key generation hands back for an algorithm id: SM2 68 bytes, RSA
// bits / 8 + 7.
std::size_t generationSize(std::uint32_t algId) {
    switch (algId) {
        case softkey::kAlgSm2:
            return kSm2GenerationBlock;
        case softkey::kAlgRsa:
        case softkey::kAlgRsa1024:
            return 1024 / 8 + 7;
        case softkey::kAlgRsa2048:
            return 2048 / 8 + 7;
        default:
            fail(DRV_E_BAD_ARGUMENT);
    }
}

// The opaque blocks the key hands to an issuer: the plain text zero-padded to
// whole blocks, SM4-ECB under the key's own device key. Deterministic.
Bytes encipher(const Token& key, Bytes plain) {
    plain.resize((plain.size() + kSm4Block - 1) / kSm4Block * kSm4Block, 0);
    const orva::EvpCipherPtr cipher(EVP_CIPHER_fetch(nullptr, "SM4-ECB", nullptr));
    const orva::EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    require(cipher != nullptr && ctx != nullptr && plain.size() <= INT_MAX &&
                key.deviceKey.size() == kSm4Block,
            DRV_E_INTERNAL);
    Bytes out(plain.size());
    int n = 0;
    require(
        EVP_EncryptInit_ex2(ctx.get(), cipher.get(), key.deviceKey.data(), nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
            EVP_EncryptUpdate(ctx.get(), out.data(), &n, plain.data(),
                              static_cast<int>(plain.size())) == 1 &&
            static_cast<std::size_t>(n) == out.size(),
        DRV_E_INTERNAL);
    return out;
}

const softkey::KeyFile& publicKeyFile(const Token& key, std::uint32_t publicFid) {
    const softkey::KeyFile* file = softkey::findByPublicFid(key, publicFid);
    require(file != nullptr, DRV_E_NOT_FOUND);
    return *file;
}

}  // namespace

std::uint32_t getFreePriKeyFid(Call& call, void* handle, std::uint32_t* fid) {
    const Token& key = call.key(call.device(handle));
    require(fid != nullptr);
    const auto free = softkey::freePrivateFid(key);
    require(free.has_value(), DRV_E_NO_SPACE);
    *fid = *free;
    return DRV_OK;
}

std::uint32_t generateKeyPair(Call& call, void* handle, std::uint32_t algId, std::uint32_t fid,
                              std::uint8_t* publicKey, std::uint32_t* publicKeyLen) {
    const Device& device = call.device(handle);
    const Token& key = call.key(device);
    require(publicKey != nullptr && publicKeyLen != nullptr);
    require(softkey::isPrivateFid(fid));
    const std::size_t size = generationSize(algId);
    requirePin(device);
    require(softkey::slotOfKey(key, fid) == nullptr, DRV_E_CONDITIONS);
    if (*publicKeyLen < size) {
        *publicKeyLen = static_cast<std::uint32_t>(size);
        return DRV_E_BUFFER_TOO_SMALL;
    }
    softkey::KeyPair pair = softkey::generateKeyPair(algId);
    require(pair.generationBlock.size() == size, DRV_E_INTERNAL);
    call.change(device,
                [&](Token& t) { softkey::storeKeyPair(t, fid, pair.privatePem, pair.publicFile); });
    return putBytes(pair.generationBlock, publicKey, publicKeyLen);
}

std::uint32_t readFile(Call& call, void* handle, std::uint32_t fid, std::uint32_t offset,
                       std::uint8_t* buffer, std::uint32_t* len) {
    const Token& key = call.key(call.device(handle));
    // Private keys never leave the key.
    require(!softkey::isPrivateFid(fid) || !key.keyFiles.contains(fid), DRV_E_SECURITY);
    const Bytes& file = publicKeyFile(key, fid).publicFile;
    require(offset <= file.size());
    return putBytes(std::span(file).subspan(offset), buffer, len);
}

std::uint32_t getPubKeyIds(Call& call, void* handle, std::uint8_t* ids, std::uint32_t* count) {
    const Token& key = call.key(call.device(handle));
    require(ids != nullptr && count != nullptr);
    // Ascending; at most kMaxKeyFiles ids, so the caller's 1024 bytes always hold them.
    Bytes list;
    for (const auto& entry : key.keyFiles) {
        list.push_back(static_cast<std::uint8_t>(entry.first + 1));
    }
    putFixed(list, ids, softkey::kMaxKeyFiles);
    *count = static_cast<std::uint32_t>(list.size());
    return DRV_OK;
}

std::uint32_t getEncPubKey(Call& call, void* handle, std::uint8_t id, std::uint8_t* out,
                           std::uint32_t* len) {
    const Token& key = call.key(call.device(handle));
    require(len != nullptr);
    return putBytes(encipher(key, publicKeyFile(key, id).publicFile), out, len);
}

std::uint32_t getEncPubKeyNew(Call& call, void* handle, std::uint8_t keyType,
                              const std::uint8_t* ids, std::uint32_t idCount,
                              const std::uint8_t* serverRandom, std::uint8_t* out,
                              std::uint32_t* len) {
    const Token& key = call.key(call.device(handle));
    require(keyType == 1 || keyType == 2);
    require(ids != nullptr && idCount >= 1 && idCount <= 2);
    require(serverRandom != nullptr && len != nullptr);
    // type | count | per key: id | length (2, big-endian) | public-key file | server random
    Bytes plain{keyType, static_cast<std::uint8_t>(idCount)};
    for (std::uint32_t i = 0; i < idCount; ++i) {
        const Bytes& file = publicKeyFile(key, ids[i]).publicFile;
        plain.push_back(ids[i]);
        plain.push_back(static_cast<std::uint8_t>(file.size() >> 8));
        plain.push_back(static_cast<std::uint8_t>(file.size()));
        plain.insert(plain.end(), file.begin(), file.end());
    }
    plain.insert(plain.end(), serverRandom, serverRandom + kServerRandomBytes);
    return putBytes(encipher(key, std::move(plain)), out, len);
}

std::uint32_t importKey(Call& call, void* handle, std::uint32_t fid, std::uint32_t unwrapFid,
                        std::uint32_t algWord, const std::uint8_t* a, std::uint32_t aLen,
                        const std::uint8_t* b, std::uint32_t bLen, const std::uint8_t* c,
                        std::uint32_t cLen, const std::uint8_t* serverRandom,
                        std::uint32_t serverRandomLen) {
    const Device& device = call.device(handle);
    const Token& key = call.key(device);
    requirePin(device);
    require(algWord == softkey::kEnvelopeSm4Ecb || algWord == softkey::kEnvelopeSm4Cbc);
    require(softkey::isPrivateFid(fid));
    require(aLen <= kMaxEnvelopeA && bLen <= kMaxEnvelopeB && cLen <= kMaxEnvelopeC);
    require(serverRandomLen == 0 || serverRandomLen == kServerRandomBytes);
    const auto partA = input(a, aLen);
    const auto partB = input(b, bLen);
    const auto partC = input(c, cLen);
    const auto random = input(serverRandom, serverRandomLen);
    require(!partA.empty() && !partB.empty() && !partC.empty(), DRV_E_BAD_TRANSACTION);
    const auto unwrap = key.keyFiles.find(unwrapFid);
    require(unwrap != key.keyFiles.end(), DRV_E_NOT_FOUND);
    require(softkey::slotOfKey(key, fid) == nullptr, DRV_E_CONDITIONS);

    // The server's random is good once: it is forgotten whether or not it matches.
    if (!random.empty()) {
        const bool matches = call.change(device, [&](Token& t) {
            const bool same = std::equal(random.begin(), random.end(), t.randomForEnc.begin(),
                                         t.randomForEnc.end());
            t.randomForEnc.clear();
            return same;
        });
        require(matches, DRV_E_BAD_TRANSACTION);
    }

    SecureString pem;
    Bytes publicFile;
    try {
        pem = softkey::openEnvelope(unwrap->second.privatePem, algWord, partA, partB, partC);
        publicFile = softkey::publicKeyFile(pem);
    } catch (const softkey::CryptoError&) {
        fail(DRV_E_BAD_TRANSACTION);
    }
    call.change(device, [&](Token& t) {
        softkey::storeKeyPair(t, fid, std::move(pem), std::move(publicFile));
    });
    return DRV_OK;
}

}  // namespace orva::dravik
