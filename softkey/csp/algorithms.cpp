#include "algorithms.h"

#include <cstring>

#include "csp_crypto.h"
#include "json.h"

namespace orva::qzcore3 {

namespace {

constexpr const char* kAlgorithmsFile = "csp-algorithms.json";

PROV_ENUMALGS_EX record(ALG_ID id, DWORD defaultLen, DWORD minLen, DWORD maxLen,
                        std::string_view name, std::string_view longName) {
    PROV_ENUMALGS_EX r{};
    r.aiAlgid = id;
    r.dwDefaultLen = defaultLen;
    r.dwMinLen = minLen;
    r.dwMaxLen = maxLen;
    r.dwNameLen = static_cast<DWORD>(std::min(name.size(), sizeof r.szName - 1) + 1);
    std::memcpy(r.szName, name.data(), r.dwNameLen - 1);
    r.dwLongNameLen = static_cast<DWORD>(std::min(longName.size(), sizeof r.szLongName - 1) + 1);
    std::memcpy(r.szLongName, longName.data(), r.dwLongNameLen - 1);
    return r;
}

std::vector<PROV_ENUMALGS_EX> ownRecords() {
    return {
        record(CALG_RSA_SIGN, 2048, 1024, 4096, "RSA_SIGN", "RSA Signature"),
        record(CALG_RSA_KEYX, 2048, 1024, 4096, "RSA_KEYX", "RSA Key Exchange"),
        record(CALG_MD5, 128, 128, 128, "MD5", "Message Digest 5 (MD5)"),
        record(CALG_SHA1, 160, 160, 160, "SHA-1", "Secure Hash Algorithm (SHA-1)"),
        record(CALG_SSL3_SHAMD5, 288, 288, 288, "SSL3 SHAMD5", "SSL3 SHAMD5"),
        record(CALG_SHA_256, 256, 256, 256, "SHA-256", "Secure Hash Algorithm (SHA-256)"),
        record(CALG_SHA_384, 384, 384, 384, "SHA-384", "Secure Hash Algorithm (SHA-384)"),
        record(CALG_SHA_512, 512, 512, 512, "SHA-512", "Secure Hash Algorithm (SHA-512)"),
    };
}

}  // namespace

std::vector<PROV_ENUMALGS_EX> algorithmRecords(const softkey::Store& store) {
    const auto text = store.readText(kAlgorithmsFile);
    if (!text) {
        return ownRecords();
    }
    const softkey::json::Ptr doc = softkey::json::parse(*text);
    if (!cJSON_IsArray(doc.get())) {
        throw CspError(NTE_FAIL);
    }
    std::vector<PROV_ENUMALGS_EX> records;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, doc.get()) {
        const auto id = softkey::json::uint(item, "id");
        const auto name = softkey::json::string(item, "name");
        if (!id || !name) {
            throw CspError(NTE_FAIL);
        }
        records.push_back(record(*id, softkey::json::uint(item, "default").value_or(0),
                                 softkey::json::uint(item, "min").value_or(0),
                                 softkey::json::uint(item, "max").value_or(0), *name, *name));
    }
    return records;
}

}  // namespace orva::qzcore3
