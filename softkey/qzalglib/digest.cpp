#include "digest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <string_view>

#include "failure.h"
#include "maker/qzalglib.h"
#include "orva/openssl_ptr.h"

namespace orva::qzalg {

namespace {

struct DigestInfo {
    std::uint32_t id;
    const char* name;  // OpenSSL's fetch name
    std::size_t size;
};

constexpr DigestInfo kDigests[] = {
    {QZA_HASH_SHA1, "SHA1", 20},       {QZA_HASH_SHA256, "SHA2-256", 32},
    {QZA_HASH_SHA384, "SHA2-384", 48}, {QZA_HASH_SHA512, "SHA2-512", 64},
    {QZA_HASH_SM3, "SM3", 32},
};

const DigestInfo* findDigest(std::uint32_t alg) noexcept {
    const auto it = std::find_if(std::begin(kDigests), std::end(kDigests),
                                 [alg](const DigestInfo& d) { return d.id == alg; });
    return it == std::end(kDigests) ? nullptr : it;
}

// The curve of SM2 as Z hashes it, each parameter 32 bytes big-endian.
constexpr std::uint8_t kSm2A[32] = {
    0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC};
constexpr std::uint8_t kSm2B[32] = {
    0x28, 0xE9, 0xFA, 0x9E, 0x9D, 0x9F, 0x5E, 0x34, 0x4D, 0x5A, 0x9E, 0x4B, 0xCF, 0x65, 0x09, 0xA7,
    0xF3, 0x97, 0x89, 0xF5, 0x15, 0xAB, 0x8F, 0x92, 0xDD, 0xBC, 0xBD, 0x41, 0x4D, 0x94, 0x0E, 0x93};
constexpr std::uint8_t kSm2Gx[32] = {
    0x32, 0xC4, 0xAE, 0x2C, 0x1F, 0x19, 0x81, 0x19, 0x5F, 0x99, 0x04, 0x46, 0x6A, 0x39, 0xC9, 0x94,
    0x8F, 0xE3, 0x0B, 0xBF, 0xF2, 0x66, 0x0B, 0xE1, 0x71, 0x5A, 0x45, 0x89, 0x33, 0x4C, 0x74, 0xC7};
constexpr std::uint8_t kSm2Gy[32] = {
    0xBC, 0x37, 0x36, 0xA2, 0xF4, 0xF6, 0x77, 0x9C, 0x59, 0xBD, 0xCE, 0xE3, 0x6B, 0x69, 0x21, 0x53,
    0xD0, 0xA9, 0x87, 0x7C, 0xC6, 0x2A, 0x47, 0x40, 0x02, 0xDF, 0x32, 0xE5, 0x21, 0x39, 0xF0, 0xA0};

// The default user id, and ENTL: its length in bits, 16 bits big-endian.
constexpr std::string_view kDefaultId = "1234567812345678";
constexpr std::uint8_t kDefaultIdBits[2] = {0x00, 0x80};
static_assert(kDefaultId.size() * 8 == (kDefaultIdBits[0] << 8 | kDefaultIdBits[1]));

// A coordinate as exactly 32 bytes.
std::array<std::uint8_t, 32> coordinate(std::span<const std::uint8_t> value) {
    constexpr std::size_t kSize = 32;
    require(!value.empty() && value.size() <= 2 * kSize);
    std::array<std::uint8_t, kSize> out{};
    if (value.size() > kSize) {
        const auto excess = value.first(value.size() - kSize);
        require(std::all_of(excess.begin(), excess.end(), [](std::uint8_t b) { return b == 0; }));
        value = value.last(kSize);
    }
    std::copy(value.begin(), value.end(), out.end() - value.size());
    return out;
}

}  // namespace

Hasher::Hasher(std::uint32_t alg) {
    const DigestInfo* info = findDigest(alg);
    if (info == nullptr) {
        fail(QZA_E_NOT_SUPPORTED);
    }
    md_.reset(EVP_MD_fetch(nullptr, info->name, nullptr));
    ctx_.reset(EVP_MD_CTX_new());
    sslCheck(md_ != nullptr && ctx_ != nullptr);
    sslCheck(EVP_DigestInit_ex2(ctx_.get(), md_.get(), nullptr) == 1);
    size_ = info->size;
}

void Hasher::update(std::span<const std::uint8_t> data) {
    sslCheck(EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) == 1);
}

void Hasher::finish(std::span<std::uint8_t> out) {
    require(out.size() == size_);
    unsigned int written = 0;
    sslCheck(EVP_DigestFinal_ex(ctx_.get(), out.data(), &written) == 1);
    sslCheck(written == out.size());
}

std::size_t digestSize(std::uint32_t alg) noexcept {
    const DigestInfo* info = findDigest(alg);
    return info == nullptr ? 0 : info->size;
}

void digest(std::uint32_t alg, std::span<const std::uint8_t> data, std::span<std::uint8_t> out) {
    Hasher hasher(alg);
    hasher.update(data);
    hasher.finish(out);
}

Sm2Z sm2Z(std::span<const std::uint8_t> x, std::span<const std::uint8_t> y) {
    const auto px = coordinate(x);
    const auto py = coordinate(y);
    Hasher hasher(QZA_HASH_SM3);
    hasher.update(kDefaultIdBits);
    hasher.update({reinterpret_cast<const std::uint8_t*>(kDefaultId.data()), kDefaultId.size()});
    hasher.update(kSm2A);
    hasher.update(kSm2B);
    hasher.update(kSm2Gx);
    hasher.update(kSm2Gy);
    hasher.update(px);
    hasher.update(py);
    Sm2Z z{};
    hasher.finish(z);
    return z;
}

}  // namespace orva::qzalg
