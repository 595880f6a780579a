#include "der_writer.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "base64_codec.h"

namespace orva::api {

namespace {

constexpr std::size_t kShortFormLimit = 128;
constexpr std::uint8_t kLongFormFlag = 0x80;
constexpr std::size_t kLongestLengthBytes = 3;  // what the readers accept: 0x81 to 0x83
constexpr std::uint8_t kHighBit = 0x80;

[[nodiscard]] std::optional<DerElement> readDerElement(std::uint8_t tag,
                                                       std::span<const std::uint8_t> in) noexcept {
    if (in.size() < 2 || in[0] != tag) {
        return std::nullopt;
    }
    std::size_t header = 2;
    std::size_t length = in[1];
    if ((in[1] & kLongFormFlag) != 0) {
        const std::size_t count = in[1] & 0x7F;
        if (count == 0 || count > kLongestLengthBytes || in.size() < 2 + count) {
            return std::nullopt;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | in[2 + i];
        }
        header += count;
    }
    if (in.size() - header < length) {
        return std::nullopt;
    }
    DerElement element;
    element.tlv = in.first(header + length);
    element.content = element.tlv.subspan(header);
    return element;
}

// 02 or 30, length, value: the shared body of the INTEGER and SEQUENCE writers.
[[nodiscard]] std::optional<Bytes> encodeLimited(std::uint8_t tag,
                                                 std::span<const std::uint8_t> value) {
    if (value.size() >= kDerIntegerValueLimit) {
        return std::nullopt;
    }
    return encodeDerValue(tag, value);
}

// Appends the DER length of a value the caller has checked against
// kDerLengthLimit.
void appendDerLength(std::size_t length, Bytes& out) {
    if (length < kShortFormLimit) {
        out.push_back(static_cast<std::uint8_t>(length));
        return;
    }
    const std::size_t count = derHeaderSize(length) - 2;
    out.push_back(static_cast<std::uint8_t>(kLongFormFlag | count));
    for (std::size_t i = count; i-- > 0;) {
        out.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    }
}

}  // namespace

std::size_t derHeaderSize(std::size_t length) noexcept {
    if (length < kShortFormLimit) {
        return 2;
    }
    std::size_t header = 2;
    for (std::size_t rest = length; rest > 0xFF; rest >>= 8) {
        ++header;
    }
    return header + 1;
}

std::optional<Bytes> encodeDerLength(std::size_t length) {
    if (length > kDerLengthLimit) {
        return std::nullopt;
    }
    Bytes out;
    appendDerLength(length, out);
    return out;
}

std::optional<Bytes> encodeDerValue(std::uint8_t tag, std::span<const std::uint8_t> value) {
    if (value.size() > kDerLengthLimit) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(derHeaderSize(value.size()) + value.size());
    out.push_back(tag);
    appendDerLength(value.size(), out);
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

std::optional<Bytes> encodeDerInteger(std::span<const std::uint8_t> value) {
    return encodeLimited(kDerTagInteger, value);
}

std::optional<Bytes> encodeDerSequence(std::span<const std::uint8_t> value) {
    return encodeLimited(kDerTagSequence, value);
}

std::optional<DerElement> readDerInteger(std::span<const std::uint8_t> in) noexcept {
    return readDerElement(kDerTagInteger, in);
}

std::optional<DerElement> readDerSequence(std::span<const std::uint8_t> in) noexcept {
    return readDerElement(kDerTagSequence, in);
}

void DerChain::grow(std::size_t n) {
    const std::optional<std::size_t> size = checkedSum({size_, n});
    if (!size) {
        throw std::length_error("DER encoding too long");
    }
    size_ = *size;
}

void DerChain::append(Bytes owned) {
    const std::size_t n = owned.size();
    pieces_.push_back(Piece{std::move(owned), {}});
    grow(n);
}

void DerChain::appendBorrowed(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    pieces_.push_back(Piece{{}, bytes});
    grow(bytes.size());
}

void DerChain::append(DerChain&& other) {
    const std::size_t n = other.size_;
    for (Piece& piece : other.pieces_) {
        pieces_.push_back(std::move(piece));
    }
    other.pieces_.clear();
    other.size_ = 0;
    grow(n);
}

void DerChain::prepend(Bytes owned) {
    const std::size_t n = owned.size();
    pieces_.push_front(Piece{std::move(owned), {}});
    grow(n);
}

ApiErrorCode DerChain::wrap(std::uint8_t tag) {
    if (size_ > kDerLengthLimit) {
        return kDerEncodeError;
    }
    Bytes header;
    header.reserve(derHeaderSize(size_));
    header.push_back(tag);
    appendDerLength(size_, header);
    prepend(std::move(header));
    return kSuccess;
}

ApiErrorCode DerChain::writeTo(std::span<std::uint8_t> out) const noexcept {
    if (out.size() < size_) {
        return kBufferTooSmall;
    }
    copyTo(out.data());
    return kSuccess;
}

void DerChain::copyTo(std::uint8_t* at) const noexcept {
    for (const Piece& piece : pieces_) {
        const auto bytes = piece.bytes();
        at = std::copy(bytes.begin(), bytes.end(), at);
    }
}

Bytes DerChain::toBytes() const {
    Bytes bytes(size_);
    copyTo(bytes.data());
    return bytes;
}

std::optional<std::size_t> DerChain::writeBase64To(std::span<char> out) const noexcept {
    // Room for every group of three, the last one padded.
    const std::size_t groups = size_ / 3 + (size_ % 3 != 0 ? 1 : 0);
    if (out.size() / 4 < groups) {
        return std::nullopt;
    }
    Base64Writer writer(out);
    for (const Piece& piece : pieces_) {
        writer.write(piece.bytes());
    }
    return writer.finish();
}

std::optional<Bytes> encodeRsaPublicKey(std::span<const std::uint8_t> modulus,
                                        std::span<const std::uint8_t> exponent) noexcept {
    if (modulus.empty() || exponent.empty()) {
        return std::nullopt;
    }
    try {
        // A zero byte in front of a value that would read as negative.
        const auto unsignedValue = [](std::span<const std::uint8_t> value) {
            Bytes bytes;
            bytes.reserve(value.size() + 1);
            if ((value[0] & kHighBit) != 0) {
                bytes.push_back(0x00);
            }
            bytes.insert(bytes.end(), value.begin(), value.end());
            return bytes;
        };
        // INTEGER, INTEGER, and the SEQUENCE around them.
        std::optional<Bytes> integers = encodeDerInteger(unsignedValue(modulus));
        if (!integers) {
            return std::nullopt;
        }
        const std::optional<Bytes> e = encodeDerInteger(unsignedValue(exponent));
        if (!e) {
            return std::nullopt;
        }
        integers->insert(integers->end(), e->begin(), e->end());
        return encodeDerSequence(*integers);
    } catch (const std::bad_alloc&) {
        // Memory exhaustion is a refusal too: the callers answer their
        // encoding code for it.
        return std::nullopt;
    }
}

}  // namespace orva::api
