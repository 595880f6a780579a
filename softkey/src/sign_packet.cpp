#include "sign_packet.h"

#include <algorithm>
#include <array>

namespace orva::softkey {

namespace {

using Input = std::span<const std::uint8_t>;

constexpr std::size_t kBinaryHeaderSize = 1 + 4 + 4;
constexpr std::size_t kTextHeaderSize = 2 + 10;

// Reads one header with the expected tag, leaving `in` at its contents; the
// length it announces, which the caller still has to check against what is left.
std::optional<std::uint64_t> readBinaryHeader(Input& in, std::uint8_t tag) {
    if (in.size() < kBinaryHeaderSize || in[0] != tag) {
        return std::nullopt;
    }
    if (!std::all_of(in.begin() + 1, in.begin() + 5, [](std::uint8_t b) { return b == 0; })) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    for (std::size_t i = 5; i < kBinaryHeaderSize; ++i) {
        length = (length << 8) | in[i];
    }
    in = in.subspan(kBinaryHeaderSize);
    return length;
}

std::optional<std::uint64_t> readTextHeader(Input& in, const char* tag) {
    if (in.size() < kTextHeaderSize || in[0] != static_cast<std::uint8_t>(tag[0]) ||
        in[1] != static_cast<std::uint8_t>(tag[1])) {
        return std::nullopt;
    }
    // Ten digits are below 10^10, well inside 64 bits.
    std::uint64_t length = 0;
    for (std::size_t i = 2; i < kTextHeaderSize; ++i) {
        if (in[i] < '0' || in[i] > '9') {
            return std::nullopt;
        }
        length = length * 10 + static_cast<std::uint64_t>(in[i] - '0');
    }
    in = in.subspan(kTextHeaderSize);
    return length;
}

// Header `index` of a form: 0 the outer element, then the three in that form's order.
std::optional<std::uint64_t> readHeader(std::uint32_t form, Input& in, std::size_t index) {
    static constexpr std::array<std::uint8_t, 4> kBinaryTags = {0x11, 0x21, 0x23, 0x22};
    static constexpr std::array<const char*, 4> kTextTags = {"11", "21", "22", "23"};
    return form == kPacketFormBinary ? readBinaryHeader(in, kBinaryTags[index])
                                     : readTextHeader(in, kTextTags[index]);
}

std::optional<Input> readElement(std::uint32_t form, Input& in, std::size_t index) {
    const std::optional<std::uint64_t> length = readHeader(form, in, index);
    if (!length || *length > in.size()) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(*length);
    const Input element = in.first(size);
    in = in.subspan(size);
    return element;
}

}  // namespace

std::optional<SignPacketView> parseSignPacket(std::uint32_t form,
                                              std::span<const std::uint8_t> packet) {
    if (form != kPacketFormText && form != kPacketFormBinary) {
        return std::nullopt;
    }
    Input rest = packet;
    // The outer element is the whole packet: nothing may follow it.
    const std::optional<std::uint64_t> outer = readHeader(form, rest, 0);
    if (!outer || *outer != rest.size()) {
        return std::nullopt;
    }

    const std::optional<Input> transaction = readElement(form, rest, 1);
    const std::optional<Input> second = transaction ? readElement(form, rest, 2) : std::nullopt;
    const std::optional<Input> third = second ? readElement(form, rest, 3) : std::nullopt;
    if (!third || !rest.empty()) {
        return std::nullopt;
    }
    // The binary form puts the file before the display, the text form after it.
    SignPacketView view;
    view.transaction = *transaction;
    view.display = form == kPacketFormBinary ? *third : *second;
    view.fileField = form == kPacketFormBinary ? *second : *third;
    return view;
}

}  // namespace orva::softkey
