#pragma once

// Digests by QZAlgLib's digest ids, and the SM2 signer digest Z.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "orva/openssl_ptr.h"

namespace orva::qzalg {

// A digest computation fed in pieces.
class Hasher {
  public:
    // Fails with QZA_E_NOT_SUPPORTED for an unknown digest id.
    explicit Hasher(std::uint32_t alg);

    std::size_t size() const noexcept { return size_; }
    void update(std::span<const std::uint8_t> data);
    // The digest into out, exactly size() bytes.
    void finish(std::span<std::uint8_t> out);

  private:
    orva::EvpMdPtr md_;
    orva::EvpMdCtxPtr ctx_;
    std::size_t size_ = 0;
};

// The size of a digest id's output; 0 for an unknown id.
std::size_t digestSize(std::uint32_t alg) noexcept;

// The digest of data into out, which is exactly digestSize(alg) bytes.
void digest(std::uint32_t alg, std::span<const std::uint8_t> data, std::span<std::uint8_t> out);

using Sm2Z = std::array<std::uint8_t, 32>;

// Z of the SM2 public key (x, y) with the default user id "1234567812345678".
// A coordinate is a big-endian number of 1 to 64 bytes whose value fits in 32
// bytes, so both a bare 32-byte coordinate and a zero-filled 64-byte field work.
Sm2Z sm2Z(std::span<const std::uint8_t> x, std::span<const std::uint8_t> y);

}  // namespace orva::qzalg
