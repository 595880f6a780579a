// Hashes and signatures: CPCreateHash, CPSetHashParam, CPDestroyHash,
// CPSignHash, CPVerifySignature, and the hash entries qzcore3 does not offer.

#include <string_view>

#include "module_state.h"
#include "win32/errors.h"

using namespace orva::qzcore3;

namespace {

// The description that asks for PSS; any other signs PKCS#1 v1.5.
constexpr std::u16string_view kPssDescription = u"QZKSP_RSA_PSS";

bool wantsPss(LPCWSTR description) {
    if (description == nullptr) {
        return false;
    }
    // Compared within the length of the one text that matters.
    std::size_t n = 0;
    while (n <= kPssDescription.size() && description[n] != u'\0') {
        ++n;
    }
    return std::u16string_view(description, n) == kPssDescription;
}

std::string describe(LPCWSTR description) {
    std::string text;
    for (std::size_t i = 0; description != nullptr && description[i] != u'\0' && i < 64; ++i) {
        text.push_back(description[i] < 0x80 ? static_cast<char>(description[i]) : '?');
    }
    return text;
}

const orva::qzcore3::Bytes& hashValue(const HashRef& hash) {
    if (!hash.value) {
        throw CspError(NTE_BAD_HASH_STATE);
    }
    return *hash.value;
}

std::size_t signatureSize(const KeyPair& key) {
    return key.kind == KeyKind::rsa ? modulusBytes(key) : 2 * ((key.bits + 7) / 8);
}

}  // namespace

ORVA_API_ENTRY BOOL CPCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                 HCRYPTHASH* phHash) {
    return runEntry(
        "CPCreateHash", "",
        [&](Call& call) {
            call.handles().context(hProv);
            if (phHash == nullptr) {
                throw CspError(ERROR_INVALID_PARAMETER);
            }
            if (hKey != 0 || dwFlags != 0) {
                throw CspError(NTE_BAD_FLAGS);
            }
            if (hashLength(Algid) == 0) {
                throw CspError(NTE_BAD_ALGID);
            }
            *phHash = call.handles().addHash(HashRef{hProv, Algid, std::nullopt});
        },
        StoreChecks::no);
}

// HP_HASHVAL takes as many bytes as the hash algorithm makes.
ORVA_API_ENTRY BOOL CPSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam,
                                   const BYTE* pbData, DWORD dwFlags) {
    return runEntry(
        "CPSetHashParam", "",
        [&](Call& call) {
            HashRef& hash = call.handles().hash(hProv, hHash);
            if (dwFlags != 0) {
                throw CspError(NTE_BAD_FLAGS);
            }
            if (dwParam != HP_HASHVAL) {
                throw CspError(NTE_BAD_TYPE);
            }
            if (pbData == nullptr) {
                throw CspError(ERROR_INVALID_PARAMETER);
            }
            hash.value = orva::qzcore3::Bytes(pbData, pbData + hashLength(hash.algorithm));
        },
        StoreChecks::no);
}

ORVA_API_ENTRY BOOL CPDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash) {
    return runEntry(
        "CPDestroyHash", "", [&](Call& call) { call.handles().destroyHash(hProv, hHash); },
        StoreChecks::no);
}

ORVA_API_ENTRY BOOL CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec,
                               LPCWSTR szDescription, DWORD dwFlags, BYTE* pbSignature,
                               DWORD* pcbSigLen) {
    return runEntry("CPSignHash", std::to_string(dwKeySpec) + " " + describe(szDescription),
                    [&](Call& call) {
                        const HashRef& hash = call.handles().hash(hProv, hHash);
                        call.note("hash " + hexWord(hash.algorithm));
                        Context& context = call.handles().context(hProv);
                        if (dwFlags != 0) {
                            throw CspError(NTE_BAD_FLAGS);
                        }
                        if (pcbSigLen == nullptr) {
                            throw CspError(ERROR_INVALID_PARAMETER);
                        }
                        const auto it = context.keys.find(dwKeySpec);
                        if (it == context.keys.end()) {
                            throw CspError(NTE_NO_KEY);
                        }
                        const KeyPair& key = it->second->pair;
                        const std::size_t size = signatureSize(key);
                        if (pbSignature == nullptr) {
                            *pcbSigLen = static_cast<DWORD>(size);
                            return;
                        }
                        if (*pcbSigLen < size) {
                            *pcbSigLen = static_cast<DWORD>(size);
                            throw CspError(ERROR_MORE_DATA);
                        }
                        const bool pss = key.kind == KeyKind::rsa && wantsPss(szDescription);
                        const auto signature = signHash(key, hash.algorithm, hashValue(hash), pss);
                        fillBuffer(signature, pbSignature, pcbSigLen);
                    });
}

ORVA_API_ENTRY BOOL CPVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature,
                                      DWORD cbSigLen, HCRYPTKEY hPubKey, LPCWSTR szDescription,
                                      DWORD dwFlags) {
    return runEntry("CPVerifySignature", describe(szDescription), [&](Call& call) {
        const HashRef& hash = call.handles().hash(hProv, hHash);
        const KeyRef& ref = call.handles().key(hProv, hPubKey);
        Context& context = call.handles().context(hProv);
        if (dwFlags != 0) {
            throw CspError(NTE_BAD_FLAGS);
        }
        if (pbSignature == nullptr && cbSigLen != 0) {
            throw CspError(ERROR_INVALID_PARAMETER);
        }
        const auto it = context.keys.find(ref.keySpec);
        if (it == context.keys.end()) {
            throw CspError(NTE_NO_KEY);
        }
        const KeyPair& key = it->second->pair;
        const bool pss = key.kind == KeyKind::rsa && wantsPss(szDescription);
        if (!verifyHash(key, hash.algorithm, hashValue(hash), {pbSignature, cbSigLen}, pss)) {
            throw CspError(NTE_BAD_SIGNATURE);
        }
    });
}

ORVA_API_ENTRY BOOL CPHashData(HCRYPTPROV, HCRYPTHASH, const BYTE*, DWORD, DWORD) {
    return runEntry("CPHashData", "", [](Call&) { throw CspError(NTE_NOT_SUPPORTED); });
}

ORVA_API_ENTRY BOOL CPHashSessionKey(HCRYPTPROV, HCRYPTHASH, HCRYPTKEY, DWORD) {
    return runEntry("CPHashSessionKey", "", [](Call&) { throw CspError(NTE_NOT_SUPPORTED); });
}

ORVA_API_ENTRY BOOL CPGetHashParam(HCRYPTPROV, HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD) {
    return runEntry("CPGetHashParam", "", [](Call&) { throw CspError(NTE_NOT_SUPPORTED); });
}

ORVA_API_ENTRY BOOL CPDuplicateHash(HCRYPTPROV, HCRYPTHASH, DWORD*, DWORD, HCRYPTHASH*) {
    return runEntry("CPDuplicateHash", "", [](Call&) { throw CspError(NTE_NOT_SUPPORTED); });
}
