#pragma once

// The library's own DER writer: lengths, TLVs, INTEGER and SEQUENCE, two
// bounded readers, a chain that wraps large values without copying them, and
// RSAPublicKey. Results keep this layer's own convention; the callers map them.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>

#include "byte_buffer.h"

namespace orva::api {

// encodeDerInteger, encodeDerSequence and encodeRsaPublicKey.
inline constexpr int kDerOk = 0;
inline constexpr int kDerNoMemory = 2;
inline constexpr int kDerTooLong = 6;
// readDerInteger and readDerSequence.
inline constexpr int kDerReadOk = 0;
inline constexpr int kDerReadFailed = 1;

inline constexpr std::uint8_t kDerTagInteger = 0x02;
inline constexpr std::uint8_t kDerTagOctetString = 0x04;
inline constexpr std::uint8_t kDerTagSequence = 0x30;
inline constexpr std::uint8_t kDerTagSet = 0x31;
// [0], constructed: explicit content, and the certificate set.
inline constexpr std::uint8_t kDerTagContext0 = 0xA0;

// encodeDerInteger and encodeDerSequence refuse values of this many bytes.
inline constexpr std::size_t kDerIntegerValueLimit = 16777216;
// The longest value a length of four bytes can state.
inline constexpr std::uint64_t kDerLengthLimit = 0xFFFFFFFF;

// The size of a TLV header for a value of n bytes: 2, 3, 4, 5 or 6.
std::size_t derHeaderSize(std::size_t length) noexcept;

// Appends a DER length: one byte below 128, else 0x81 to 0x84 and the
// big-endian bytes without leading zeros. false, nothing appended, beyond four
// bytes.
bool encodeDerLength(std::size_t length, Bytes& out);

// Appends tag, length and value. false, nothing appended, when the length
// cannot be stated.
bool encodeDerValue(std::uint8_t tag, std::span<const std::uint8_t> value, Bytes& out);

// out := 02 (or 30), length, value as it stands: no zero byte is added or
// removed. kDerTooLong for a value of kDerIntegerValueLimit bytes or more,
// kDerNoMemory when out cannot be had.
int encodeDerInteger(std::span<const std::uint8_t> value, Bytes& out) noexcept;
int encodeDerSequence(std::span<const std::uint8_t> value, Bytes& out) noexcept;

// One TLV read from the front of a span.
struct DerElement {
    std::span<const std::uint8_t> content;
    std::span<const std::uint8_t> tlv;
};

// Reads the INTEGER (SEQUENCE) at the front of in: exactly that tag, a length
// of the short form or 0x81 to 0x83, and a value that ends inside in.
// kDerReadFailed otherwise.
int readDerInteger(std::span<const std::uint8_t> in, DerElement& element) noexcept;
int readDerSequence(std::span<const std::uint8_t> in, DerElement& element) noexcept;

// A DER encoding built from the inside out: each step wraps what is there in a
// tag and length. Large values (the signed content, the certificate) are
// borrowed, not copied, until the chain is written; they must outlive it.
// Appends throw std::bad_alloc, and std::length_error past SIZE_MAX.
class DerChain {
  public:
    void append(Bytes owned);
    void appendBorrowed(std::span<const std::uint8_t> bytes);
    void append(DerChain&& other);
    void prepend(Bytes owned);

    // Puts tag and length in front of the whole chain. false, chain unchanged,
    // when the length cannot be stated.
    bool wrap(std::uint8_t tag);

    std::size_t size() const noexcept { return size_; }

    // Copies the chain to the front of out; false, nothing written, when out is
    // shorter.
    bool writeTo(std::span<std::uint8_t> out) const noexcept;

    Bytes toBytes() const;

    // Writes the base64 text of the chain's bytes to the front of out, piece
    // by piece, so that they are never gathered; the text is the one
    // base64Encode gives for them. length receives its length. false, nothing
    // written, when out is shorter.
    bool writeBase64To(std::span<char> out, std::size_t& length) const noexcept;

  private:
    struct Piece {
        Bytes owned;
        std::span<const std::uint8_t> borrowed;
        std::span<const std::uint8_t> bytes() const noexcept {
            return borrowed.data() != nullptr ? borrowed : std::span<const std::uint8_t>(owned);
        }
    };

    void grow(std::size_t n);

    std::deque<Piece> pieces_;
    std::size_t size_ = 0;
};

// RSAPublicKey DER: 30 L { 02 L [00] modulus, 02 L [00] exponent }, a zero byte
// put in front of a value whose first byte is 0x80 or more; no zero removed.
// kDerTooLong when a value is empty or refused, or memory runs out.
int encodeRsaPublicKey(std::span<const std::uint8_t> modulus,
                       std::span<const std::uint8_t> exponent, Bytes& out) noexcept;

}  // namespace orva::api
