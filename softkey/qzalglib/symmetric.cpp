#include "symmetric.h"

#include <openssl/evp.h>

#include <algorithm>

#include "failure.h"
#include "maker/qzalglib.h"
#include "orva/cleanse.h"
#include "orva/openssl_ptr.h"

namespace orva::qzalg {

namespace {

constexpr std::size_t kSm4Block = 16;
constexpr std::size_t kSm4Key = 16;

// EVP_CipherUpdate counts in int: larger inputs go in pieces of whole blocks.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

void runSm4Ecb(bool encrypt, std::span<const std::uint8_t, 16> key,
               std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    const orva::EvpCipherPtr cipher(EVP_CIPHER_fetch(nullptr, "SM4-ECB", nullptr));
    const orva::EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    sslCheck(cipher != nullptr && ctx != nullptr);
    sslCheck(EVP_CipherInit_ex2(ctx.get(), cipher.get(), key.data(), nullptr, encrypt ? 1 : 0,
                                nullptr) == 1);
    sslCheck(EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1);
    std::size_t done = 0;
    while (done < in.size()) {
        const std::size_t piece = std::min(kMaxPiece, in.size() - done);
        int written = 0;
        sslCheck(EVP_CipherUpdate(ctx.get(), out.data() + done, &written, in.data() + done,
                                  static_cast<int>(piece)) == 1);
        sslCheck(static_cast<std::size_t>(written) == piece);
        done += piece;
    }
    // Without padding and with whole blocks, the final step writes nothing; it
    // still runs so that a left-over partial block is an error.
    int tail = 0;
    sslCheck(EVP_CipherFinal_ex(ctx.get(), out.data() + done, &tail) == 1 && tail == 0);
}

}  // namespace

std::size_t symmBlockSize(std::uint32_t alg) noexcept {
    return alg == QZA_SYMM_SM4_ECB ? kSm4Block : 0;
}

std::size_t symmKeySize(std::uint32_t alg) noexcept {
    return alg == QZA_SYMM_SM4_ECB ? kSm4Key : 0;
}

void sm4Ecb(bool encrypt, std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t> in,
            std::span<std::uint8_t> out) {
    require(!in.empty() && in.size() % kSm4Block == 0 && out.size() == in.size());
    try {
        runSm4Ecb(encrypt, key, in, out);
    } catch (...) {
        // Leave no half-transformed data behind.
        cleanse(out.data(), out.size());
        throw;
    }
}

}  // namespace orva::qzalg
