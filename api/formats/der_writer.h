#pragma once

// The library's own DER writer: lengths, TLVs, INTEGER and SEQUENCE, two
// bounded readers, a chain that wraps large values without copying them, and
// RSAPublicKey. An encoding that cannot be made is none; the callers name its
// code.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

#include "byte_buffer.h"
#include "orva_result_codes.h"

namespace orva::api {

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

// A DER length: one byte below 128, else 0x81 to 0x84 and the big-endian bytes
// without leading zeros. None beyond four bytes.
[[nodiscard]] std::optional<Bytes> encodeDerLength(std::size_t length);

// Tag, length and value. None when the length cannot be stated.
[[nodiscard]] std::optional<Bytes> encodeDerValue(std::uint8_t tag,
                                                  std::span<const std::uint8_t> value);

// 02 (or 30), length, value as it stands: no zero byte is added or removed.
// None for a value of kDerIntegerValueLimit bytes or more.
[[nodiscard]] std::optional<Bytes> encodeDerInteger(std::span<const std::uint8_t> value);
[[nodiscard]] std::optional<Bytes> encodeDerSequence(std::span<const std::uint8_t> value);

// One TLV read from the front of a span.
struct DerElement {
    std::span<const std::uint8_t> content;
    std::span<const std::uint8_t> tlv;
};

// Reads the INTEGER (SEQUENCE) at the front of in: exactly that tag, a length
// of the short form or 0x81 to 0x83, and a value that ends inside in. None
// otherwise.
[[nodiscard]] std::optional<DerElement> readDerInteger(std::span<const std::uint8_t> in) noexcept;
[[nodiscard]] std::optional<DerElement> readDerSequence(std::span<const std::uint8_t> in) noexcept;

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

    // Puts tag and length in front of the whole chain. kDerEncodeError, chain
    // unchanged, when the length cannot be stated.
    ApiErrorCode wrap(std::uint8_t tag);

    std::size_t size() const noexcept { return size_; }

    // Copies the chain to the front of out; kBufferTooSmall, nothing written,
    // when out is shorter.
    ApiErrorCode writeTo(std::span<std::uint8_t> out) const noexcept;

    Bytes toBytes() const;

    // Writes the base64 text of the chain's bytes to the front of out, piece
    // by piece, so that they are never gathered; the text is the one
    // base64Encode gives for them. Gives its length, or none, nothing written,
    // when out is shorter.
    [[nodiscard]] std::optional<std::size_t> writeBase64To(std::span<char> out) const noexcept;

  private:
    struct Piece {
        Bytes owned;
        std::span<const std::uint8_t> borrowed;
        std::span<const std::uint8_t> bytes() const noexcept {
            return borrowed.data() != nullptr ? borrowed : std::span<const std::uint8_t>(owned);
        }
    };

    void grow(std::size_t n);
    // The chain's bytes from at on; there must be room for size().
    void copyTo(std::uint8_t* at) const noexcept;

    std::deque<Piece> pieces_;
    std::size_t size_ = 0;
};

// RSAPublicKey DER: 30 L { 02 L [00] modulus, 02 L [00] exponent }, a zero byte
// put in front of a value whose first byte is 0x80 or more; no zero removed.
// None when a value is empty or refused, or memory runs out.
[[nodiscard]] std::optional<Bytes> encodeRsaPublicKey(
    std::span<const std::uint8_t> modulus, std::span<const std::uint8_t> exponent) noexcept;

}  // namespace orva::api
