#include "certificate_subject.h"

#include <array>
#include <cstring>

#include "bound_function_table.h"

namespace orva::api {

namespace {

// The decoder writes at most 1023 bytes and a NUL.
constexpr std::size_t kSubjectRoom = 1024;

}  // namespace

std::string certificateSubject(std::span<const std::uint8_t> certificate) {
    std::array<char, kSubjectRoom + 1> subject{};
    boundFunctions().qzAlgLib.QZA_DecodeX509Cert(
        certificate.data(), static_cast<std::uint32_t>(certificate.size()), nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, subject.data(), nullptr, nullptr, nullptr, nullptr);
    return std::string(subject.data(), strnlen(subject.data(), kSubjectRoom));
}

}  // namespace orva::api
