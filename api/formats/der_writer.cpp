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

int readDerElement(std::uint8_t tag, std::span<const std::uint8_t> in,
                   DerElement& element) noexcept {
    if (in.size() < 2 || in[0] != tag) {
        return kDerReadFailed;
    }
    std::size_t header = 2;
    std::size_t length = in[1];
    if ((in[1] & kLongFormFlag) != 0) {
        const std::size_t count = in[1] & 0x7F;
        if (count == 0 || count > kLongestLengthBytes || in.size() < 2 + count) {
            return kDerReadFailed;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | in[2 + i];
        }
        header += count;
    }
    if (in.size() - header < length) {
        return kDerReadFailed;
    }
    element.tlv = in.first(header + length);
    element.content = element.tlv.subspan(header);
    return kDerReadOk;
}

// 02 or 30, length, value: the shared body of the INTEGER and SEQUENCE writers.
int encodeLimited(std::uint8_t tag, std::span<const std::uint8_t> value, Bytes& out) noexcept {
    if (value.size() >= kDerIntegerValueLimit) {
        return kDerTooLong;
    }
    try {
        Bytes encoded;
        encoded.reserve(derHeaderSize(value.size()) + value.size());
        if (!encodeDerValue(tag, value, encoded)) {
            return kDerTooLong;
        }
        out = std::move(encoded);
        return kDerOk;
    } catch (const std::bad_alloc&) {
        return kDerNoMemory;
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

bool encodeDerLength(std::size_t length, Bytes& out) {
    if (length < kShortFormLimit) {
        out.push_back(static_cast<std::uint8_t>(length));
        return true;
    }
    if (length > kDerLengthLimit) {
        return false;
    }
    const std::size_t count = derHeaderSize(length) - 2;
    out.push_back(static_cast<std::uint8_t>(kLongFormFlag | count));
    for (std::size_t i = count; i-- > 0;) {
        out.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    }
    return true;
}

bool encodeDerValue(std::uint8_t tag, std::span<const std::uint8_t> value, Bytes& out) {
    if (value.size() > kDerLengthLimit) {
        return false;
    }
    out.push_back(tag);
    encodeDerLength(value.size(), out);
    out.insert(out.end(), value.begin(), value.end());
    return true;
}

int encodeDerInteger(std::span<const std::uint8_t> value, Bytes& out) noexcept {
    return encodeLimited(kDerTagInteger, value, out);
}

int encodeDerSequence(std::span<const std::uint8_t> value, Bytes& out) noexcept {
    return encodeLimited(kDerTagSequence, value, out);
}

int readDerInteger(std::span<const std::uint8_t> in, DerElement& element) noexcept {
    return readDerElement(kDerTagInteger, in, element);
}

int readDerSequence(std::span<const std::uint8_t> in, DerElement& element) noexcept {
    return readDerElement(kDerTagSequence, in, element);
}

void DerChain::grow(std::size_t n) {
    if (!checkedSum({size_, n}, size_)) {
        throw std::length_error("DER encoding too long");
    }
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

bool DerChain::wrap(std::uint8_t tag) {
    if (size_ > kDerLengthLimit) {
        return false;
    }
    Bytes header{tag};
    encodeDerLength(size_, header);
    prepend(std::move(header));
    return true;
}

bool DerChain::writeTo(std::span<std::uint8_t> out) const noexcept {
    if (out.size() < size_) {
        return false;
    }
    auto at = out.begin();
    for (const Piece& piece : pieces_) {
        const auto bytes = piece.bytes();
        at = std::copy(bytes.begin(), bytes.end(), at);
    }
    return true;
}

Bytes DerChain::toBytes() const {
    Bytes bytes(size_);
    writeTo(bytes);
    return bytes;
}

bool DerChain::writeBase64To(std::span<char> out, std::size_t& length) const noexcept {
    // Room for every group of three, the last one padded.
    const std::size_t groups = size_ / 3 + (size_ % 3 != 0 ? 1 : 0);
    if (out.size() / 4 < groups) {
        return false;
    }
    Base64Writer writer(out);
    for (const Piece& piece : pieces_) {
        writer.write(piece.bytes());
    }
    return writer.finish(length);
}

int encodeRsaPublicKey(std::span<const std::uint8_t> modulus,
                       std::span<const std::uint8_t> exponent, Bytes& out) noexcept {
    if (modulus.empty() || exponent.empty()) {
        return kDerTooLong;
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
        Bytes n;
        Bytes e;
        if (encodeDerInteger(unsignedValue(modulus), n) != kDerOk ||
            encodeDerInteger(unsignedValue(exponent), e) != kDerOk) {
            return kDerTooLong;
        }
        n.insert(n.end(), e.begin(), e.end());
        Bytes sequence;
        if (encodeDerSequence(n, sequence) != kDerOk) {
            return kDerTooLong;
        }
        out = std::move(sequence);
        return kDerOk;
    } catch (const std::bad_alloc&) {
        // Memory exhaustion is a refusal too.
        return kDerTooLong;
    }
}

}  // namespace orva::api
