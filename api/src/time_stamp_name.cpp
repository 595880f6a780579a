#include "time_stamp_name.h"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace orva::api {

namespace {

constexpr int kStampRandomDigits = 4;
constexpr int kMaxRandomDigits = 9;
constexpr int kDraws = 16;

}  // namespace

std::optional<std::string> randomDigits(int count) {
    if (count < 1 || count > kMaxRandomDigits) {
        return std::nullopt;
    }
    std::uint32_t modulus = 1;
    for (int i = 0; i < count; ++i) {
        modulus *= 10;
    }
    // Values from the largest multiple of the modulus up are drawn again.
    const std::uint64_t limit = (std::uint64_t{1} << 32) / modulus * modulus;
    for (int i = 0; i < kDraws; ++i) {
        std::array<unsigned char, 4> bytes{};
        if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
            return std::nullopt;
        }
        const std::uint32_t value = (std::uint32_t{bytes[0]} << 24) |
                                    (std::uint32_t{bytes[1]} << 16) |
                                    (std::uint32_t{bytes[2]} << 8) | bytes[3];
        if (value < limit) {
            std::string digits = std::to_string(value % modulus);
            digits.insert(0, static_cast<std::size_t>(count) - digits.size(), '0');
            return digits;
        }
    }
    return std::nullopt;
}

std::optional<std::string> makeTimeStampName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) {
        return std::nullopt;
    }
    const auto digits = randomDigits(kStampRandomDigits);
    if (!digits) {
        return std::nullopt;
    }
    // 64 bytes hold any year the tm can carry.
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "%04d%02d%02d%02d%02d%02d%s",
                                     local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                     local.tm_hour, local.tm_min, local.tm_sec, digits->c_str());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
        return std::nullopt;
    }
    return std::string(text.data(), static_cast<std::size_t>(length));
}

}  // namespace orva::api
