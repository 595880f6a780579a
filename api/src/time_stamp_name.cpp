#include "time_stamp_name.h"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace orva::api {

namespace {

constexpr unsigned kRandomModulus = 10000;
// The largest multiple of 10000 below 2^16: values from it up are drawn
// again, so every four digits are equally likely.
constexpr unsigned kUnbiasedLimit = 60000;
constexpr int kDraws = 16;

std::optional<unsigned> randomFourDigits() {
    for (int i = 0; i < kDraws; ++i) {
        std::array<unsigned char, 2> bytes{};
        if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
            return std::nullopt;
        }
        const unsigned value = (unsigned{bytes[0]} << 8) | bytes[1];
        if (value < kUnbiasedLimit) {
            return value % kRandomModulus;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> makeTimeStampName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) {
        return std::nullopt;
    }
    const auto digits = randomFourDigits();
    if (!digits) {
        return std::nullopt;
    }
    // 64 bytes hold any year the tm can carry.
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "%04d%02d%02d%02d%02d%02d%04u",
                                     local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                     local.tm_hour, local.tm_min, local.tm_sec, *digits);
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
        return std::nullopt;
    }
    return std::string(text.data(), static_cast<std::size_t>(length));
}

}  // namespace orva::api
