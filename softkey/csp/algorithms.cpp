#include "algorithms.h"

#include <array>
#include <cstring>

namespace orva::qzcore3 {

namespace {

PROV_ENUMALGS_EX record(ALG_ID id, DWORD defaultLen, DWORD minLen, DWORD maxLen, const char* name,
                        const char* longName) {
    PROV_ENUMALGS_EX r{};
    r.aiAlgid = id;
    r.dwDefaultLen = defaultLen;
    r.dwMinLen = minLen;
    r.dwMaxLen = maxLen;
    r.dwNameLen = static_cast<DWORD>(std::strlen(name) + 1);
    std::memcpy(r.szName, name, r.dwNameLen);
    r.dwLongNameLen = static_cast<DWORD>(std::strlen(longName) + 1);
    std::memcpy(r.szLongName, longName, r.dwLongNameLen);
    return r;
}

}  // namespace

std::span<const PROV_ENUMALGS_EX> algorithmRecords() noexcept {
    static const std::array<PROV_ENUMALGS_EX, 8> records = {
        record(CALG_RSA_SIGN, 2048, 1024, 4096, "RSA_SIGN", "RSA Signature"),
        record(CALG_RSA_KEYX, 2048, 1024, 4096, "RSA_KEYX", "RSA Key Exchange"),
        record(CALG_MD5, 128, 128, 128, "MD5", "Message Digest 5 (MD5)"),
        record(CALG_SHA1, 160, 160, 160, "SHA-1", "Secure Hash Algorithm (SHA-1)"),
        record(CALG_SSL3_SHAMD5, 288, 288, 288, "SSL3 SHAMD5", "SSL3 SHAMD5"),
        record(CALG_SHA_256, 256, 256, 256, "SHA-256", "Secure Hash Algorithm (SHA-256)"),
        record(CALG_SHA_384, 384, 384, 384, "SHA-384", "Secure Hash Algorithm (SHA-384)"),
        record(CALG_SHA_512, 512, 512, 512, "SHA-512", "Secure Hash Algorithm (SHA-512)"),
    };
    return records;
}

}  // namespace orva::qzcore3
