#include "base64_codec.h"

#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace orva::api {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr std::size_t kGroupBytes = 3;
constexpr std::size_t kGroupChars = 4;
constexpr std::uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotInAlphabet);
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kDecodeTable = makeDecodeTable();

[[nodiscard]] std::optional<std::size_t> encodedLength(std::size_t n) noexcept {
    const std::size_t groups = n / 3 + (n % 3 != 0 ? 1 : 0);
    if (groups > std::numeric_limits<std::size_t>::max() / 4) {
        return std::nullopt;
    }
    return groups * 4;
}

std::uint8_t sextet(char c) noexcept {
    return kDecodeTable[static_cast<unsigned char>(c)];
}

// The 24 bits of a group of up to three bytes, missing ones zero.
std::uint32_t groupOf(const std::uint8_t* bytes, std::size_t count) noexcept {
    return (std::uint32_t{bytes[0]} << 16) | (count > 1 ? std::uint32_t{bytes[1]} << 8 : 0) |
           (count > 2 ? std::uint32_t{bytes[2]} : 0);
}

// Four characters for a group; one or two bytes are padded with '='.
void putChars(std::uint32_t group, std::size_t count, char* at) noexcept {
    at[0] = kAlphabet[(group >> 18) & 0x3F];
    at[1] = kAlphabet[(group >> 12) & 0x3F];
    at[2] = count > 1 ? kAlphabet[(group >> 6) & 0x3F] : kPad;
    at[3] = count > 2 ? kAlphabet[group & 0x3F] : kPad;
}

}  // namespace

std::size_t base64EncodedLength(std::size_t n) {
    const auto length = encodedLength(n);
    if (!length) {
        throw std::length_error("base64 text too long");
    }
    return *length;
}

std::optional<std::size_t> base64Encode(std::span<const std::uint8_t> bytes,
                                        std::span<char> out) noexcept {
    // Nothing to encode: an empty text (the output is not looked at).
    if (bytes.empty()) {
        return 0;
    }
    // Needed size, capacity.
    const auto needed = encodedLength(bytes.size());
    if (!needed || out.size() < *needed) {
        return std::nullopt;
    }
    Base64Writer writer(out);
    writer.write(bytes);
    return writer.finish();
}

void Base64Writer::write(std::span<const std::uint8_t> bytes) noexcept {
    if (overflowed_) {
        return;
    }
    // First the group the last piece left open.
    std::size_t in = 0;
    if (heldCount_ != 0) {
        while (heldCount_ < kGroupBytes && in < bytes.size()) {
            held_[heldCount_++] = bytes[in++];
        }
        if (heldCount_ < kGroupBytes) {
            return;
        }
        heldCount_ = 0;
        if (!putGroup(groupOf(held_.data(), kGroupBytes), kGroupBytes)) {
            return;
        }
    }
    // Whole groups, their room checked once.
    const std::size_t groups = (bytes.size() - in) / kGroupBytes;
    if (out_.size() - at_ < groups * kGroupChars) {
        overflowed_ = true;
        return;
    }
    char* at = out_.data() + at_;
    for (const std::uint8_t* from = bytes.data() + in; in + kGroupBytes <= bytes.size();
         in += kGroupBytes, from += kGroupBytes, at += kGroupChars) {
        putChars(groupOf(from, kGroupBytes), kGroupBytes, at);
    }
    at_ += groups * kGroupChars;
    // One or two bytes wait for the next piece.
    while (in < bytes.size()) {
        held_[heldCount_++] = bytes[in++];
    }
}

std::optional<std::size_t> Base64Writer::finish() noexcept {
    if (heldCount_ != 0 && !overflowed_) {
        const bool put = putGroup(groupOf(held_.data(), heldCount_), heldCount_);
        heldCount_ = 0;
        if (!put) {
            return std::nullopt;
        }
    }
    if (overflowed_) {
        return std::nullopt;
    }
    return at_;
}

bool Base64Writer::putGroup(std::uint32_t group, std::size_t bytes) noexcept {
    if (out_.size() - at_ < kGroupChars) {
        overflowed_ = true;
        return false;
    }
    putChars(group, bytes, out_.data() + at_);
    at_ += kGroupChars;
    return true;
}

std::string base64Encode(std::span<const std::uint8_t> bytes) {
    std::string text(base64EncodedLength(bytes.size()), '\0');
    if (!base64Encode(bytes, text)) {
        throw std::logic_error("base64 encoder refused its own size");
    }
    return text;
}

std::optional<std::size_t> base64DecodedLength(std::string_view text) noexcept {
    const std::size_t n = text.size();
    // Whole groups of four only, tested before anything else.
    if (n % 4 != 0) {
        return std::nullopt;
    }
    // An empty text decodes to nothing.
    if (n == 0) {
        return 0;
    }
    // Padding only at the end; the search stays inside the text, which need
    // not be terminated.
    std::size_t padding = 0;
    if (const void* pad = std::memchr(text.data(), kPad, n); pad != nullptr) {
        const auto at = static_cast<std::size_t>(static_cast<const char*>(pad) - text.data());
        if (at < n - 2 || (at == n - 2 && text[n - 1] != kPad)) {
            return std::nullopt;
        }
        padding = n - at;
    }
    // A character outside the alphabet would decode to garbage: refused.
    for (std::size_t i = 0; i < n - padding; ++i) {
        if (sextet(text[i]) == kNotInAlphabet) {
            return std::nullopt;
        }
    }
    // Decoded size.
    return n / 4 * 3 - padding;
}

std::optional<std::size_t> base64Decode(std::string_view text,
                                        std::span<std::uint8_t> out) noexcept {
    const std::optional<std::size_t> size = base64DecodedLength(text);
    if (!size || out.size() < *size) {
        return std::nullopt;
    }
    const std::size_t decoded = *size;
    // Full groups of three bytes; the last group gives as many bytes as its
    // padding leaves.
    std::size_t at = 0;
    for (std::size_t in = 0; in < text.size(); in += 4) {
        const std::uint32_t group = (std::uint32_t{sextet(text[in])} << 18) |
                                    (std::uint32_t{sextet(text[in + 1])} << 12) |
                                    (text[in + 2] == kPad ? 0 : sextet(text[in + 2]) << 6) |
                                    (text[in + 3] == kPad ? 0 : sextet(text[in + 3]));
        out[at++] = static_cast<std::uint8_t>(group >> 16);
        if (at < decoded) {
            out[at++] = static_cast<std::uint8_t>(group >> 8);
        }
        if (at < decoded) {
            out[at++] = static_cast<std::uint8_t>(group);
        }
    }
    return decoded;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    const std::optional<std::size_t> size = base64DecodedLength(text);
    if (!size) {
        return std::nullopt;
    }
    Bytes bytes(*size);
    if (!base64Decode(text, bytes)) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> readFileAsBase64(std::string_view path) {
    try {
        // Open the file.
        const auto file = RegularFile::open(path);
        if (!file) {
            return std::nullopt;
        }
        return readFileAsBase64(*file);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::string> readFileAsBase64(const RegularFile& file) {
    try {
        // Read the whole file.
        const auto bytes = file.readAll();
        if (!bytes) {
            return std::nullopt;
        }
        // Encode the bytes actually read; an empty file gives an empty text.
        return base64Encode(*bytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

}  // namespace orva::api
