#pragma once

// Digest ids as the key and the signing code pass them around.

namespace orva::api {

inline constexpr int kHashIdMd5 = 3;
inline constexpr int kHashIdSha1 = 4;
inline constexpr int kHashIdSha256 = 5;
inline constexpr int kHashIdSha384 = 6;
inline constexpr int kHashIdSha512 = 7;
inline constexpr int kHashIdSm3 = 8;
// No hash name given: the signing code picks SM3 or SHA-1 by key size.
inline constexpr int kHashIdNone = 10;

}  // namespace orva::api
