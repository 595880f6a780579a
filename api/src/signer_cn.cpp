#include "signer_cn.h"

#include <algorithm>
#include <cstring>

#include "process_state.h"

namespace orva::api {

namespace {

constexpr std::string_view kUnsafeCharacters = "/\\<>:\"|?*";
constexpr char kReplacement = '_';
constexpr std::string_view kUnnamed = "unknown";

bool isContinuationByte(char c) noexcept {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool isControl(char c) noexcept {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

}  // namespace

void setSignerCn(std::string_view commonName) noexcept {
    auto& stored = processState().signerCn;
    stored.fill('\0');
    std::size_t length = std::min(commonName.size(), stored.size() - 1);
    // Never half a character: back up to the start of the one that was cut.
    if (length < commonName.size()) {
        while (length > 0 && isContinuationByte(commonName[length])) {
            --length;
        }
    }
    std::memcpy(stored.data(), commonName.data(), length);
}

std::string_view signerCn() noexcept {
    const auto& stored = processState().signerCn;
    return {stored.data(), strnlen(stored.data(), stored.size())};
}

std::string fileNameSafe(std::string_view commonName) {
    if (commonName.empty()) {
        return std::string(kUnnamed);
    }
    std::string name(commonName);
    for (char& c : name) {
        if (isControl(c) || kUnsafeCharacters.find(c) != std::string_view::npos) {
            c = kReplacement;
        }
    }
    if (name.front() == '.') {
        name.front() = kReplacement;
    }
    return name;
}

}  // namespace orva::api
