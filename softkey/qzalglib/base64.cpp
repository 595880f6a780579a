#include "base64.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "failure.h"

namespace orva::qzalg {

void base64Encode(std::span<const std::uint8_t> data, std::span<char> out) {
    require(out.size() == base64Size(data.size()));
    // EVP_EncodeBlock appends a NUL the caller has no room for, so it encodes
    // whole groups into a scratch block that is then copied without the NUL.
    constexpr std::size_t kChunk = 768;
    std::array<unsigned char, base64Size(kChunk) + 1> block{};
    std::size_t written = 0;
    for (std::size_t done = 0; done < data.size(); done += kChunk) {
        const auto piece = data.subspan(done, std::min(kChunk, data.size() - done));
        const int n = EVP_EncodeBlock(block.data(), piece.data(), static_cast<int>(piece.size()));
        sslCheck(n >= 0 && static_cast<std::size_t>(n) == base64Size(piece.size()));
        std::memcpy(out.data() + written, block.data(), static_cast<std::size_t>(n));
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace orva::qzalg
