#pragma once

// QZAlgLib's symmetric algorithms: SM4 in ECB mode without padding.

#include <cstddef>
#include <cstdint>
#include <span>

namespace orva::qzalg {

// The block size of a symmetric algorithm id; 0 for an unknown one.
std::size_t symmBlockSize(std::uint32_t alg) noexcept;

// The key size of a symmetric algorithm id; 0 for an unknown one.
std::size_t symmKeySize(std::uint32_t alg) noexcept;

// SM4-ECB of in (whole blocks) into out, of the same size. out may be in
// itself, but must not otherwise overlap it.
void sm4Ecb(bool encrypt, std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t> in,
            std::span<std::uint8_t> out);

}  // namespace orva::qzalg
