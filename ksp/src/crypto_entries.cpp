// Signatures, RSA encryption and public-key export. The module works in
// little-endian, CNG in big-endian: signatures and ciphertexts are reversed
// on the way through; hashes, plaintexts and blobs are not.

#include <cstring>

#include "ksp_entries.h"
#include "ksp_internal.h"
#include "orva/cleanse.h"

using namespace orva::ksp;

namespace {

constexpr std::uint32_t kSignFlags = NCRYPT_SILENT_FLAG | BCRYPT_PAD_PSS | BCRYPT_PAD_PKCS1;
constexpr std::uint32_t kCryptFlags =
    NCRYPT_SILENT_FLAG | NCRYPT_NO_PADDING_FLAG | NCRYPT_PAD_PKCS1_FLAG | NCRYPT_PAD_OAEP_FLAG;
constexpr std::uint32_t kExportFlags = NCRYPT_EXPORT_LEGACY_FLAG | NCRYPT_SILENT_FLAG;

// The hash algorithm is known only by its length.
ALG_ID hashAlgorithm(DWORD cbHash) {
    switch (cbHash) {
        case 16:
            return CALG_MD5;
        case 20:
            return CALG_SHA1;
        case 32:
            return CALG_SHA_256;
        case 36:
            return CALG_SSL3_SHAMD5;
        case 48:
            return CALG_SHA_384;
        case 64:
            return CALG_SHA_512;
        default:
            return 0;
    }
}

LPCWSTR descriptionFor(DWORD flags) {
    return (flags & BCRYPT_PAD_PSS) != 0 ? kPssDescription : kDescription;
}

// A module hash holding the caller's value; destroyed with this object.
class ModuleHash {
  public:
    explicit ModuleHash(HCRYPTPROV context) : context_(context) {}
    ~ModuleHash() {
        if (handle_ != 0) {
            destroyHash(context_, handle_);
        }
    }
    ModuleHash(const ModuleHash&) = delete;
    ModuleHash& operator=(const ModuleHash&) = delete;

    // The hash algorithm comes from the value's length; the module's
    // failures pass through as it reported them.
    SECURITY_STATUS create(PBYTE value, DWORD length) {
        const ALG_ID algorithm = hashAlgorithm(length);
        if (algorithm == 0) {
            return NTE_BAD_ALGID;
        }
        HCRYPTHASH handle = 0;
        CspResult result =
            callCsp(gCsp.CPCreateHash, context_, algorithm, HCRYPTKEY{0}, DWORD{0}, &handle);
        if (result.ok) {
            handle_ = handle;
            result = callCsp(gCsp.CPSetHashParam, context_, handle_, DWORD{HP_HASHVAL},
                             static_cast<const BYTE*>(value), DWORD{0});
        }
        return result.ok ? 0 : rawFailure(result);
    }
    HCRYPTHASH handle() const noexcept { return handle_; }

  private:
    HCRYPTPROV context_;
    HCRYPTHASH handle_ = 0;
};

struct BlobKind {
    std::u16string_view name;
    DWORD type;  // 0: a private blob, which is never exported
};

constexpr BlobKind kBlobKinds[] = {
    {u"PUBLICBLOB", PUBLICKEYBLOB}, {u"PRIVATEBLOB", 0},        {u"RSAPUBLICBLOB", 13},
    {u"RSAPRIVATEBLOB", 0},         {u"RSAFULLPRIVATEBLOB", 0}, {u"PKCS7_ENVELOPE", 0},
    {u"PKCS8_PRIVATEKEY", 0},       {u"CAPIPRIVATEBLOB", 0},    {u"CAPIPUBLICBLOB", PUBLICKEYBLOB},
    {u"ECCPRIVATEBLOB", 0},         {u"ECCPUBLICBLOB", 14},
};

// Encrypt's and Decrypt's working block: it holds a plaintext, wiped on
// every way out.
struct PlaintextBuffer {
    BYTE bytes[kWorkBufferBytes] = {};
    ~PlaintextBuffer() { orva::cleanse(bytes, sizeof bytes); }
};

// What Encrypt and Decrypt check before anything else, in their order.
SECURITY_STATUS checkCryptCall(const Held<KspKey>& key, PBYTE pbInput, DWORD cbInput,
                               DWORD* pcbResult, DWORD dwFlags, DWORD maxInput) {
    if (!key) {
        return NTE_INVALID_HANDLE;
    }
    if (key->finalized == 0) {
        return NTE_BAD_KEY_STATE;
    }
    if (pbInput == nullptr || cbInput == 0 || pcbResult == nullptr || cbInput > maxInput) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~kCryptFlags) != 0) {
        return NTE_BAD_FLAGS;
    }
    // Only PKCS#1 v1.5 is done; other paddings are refused, never replaced.
    if ((dwFlags & (NCRYPT_PAD_OAEP_FLAG | NCRYPT_NO_PADDING_FLAG)) != 0) {
        return NTE_NOT_SUPPORTED;
    }
    return 0;
}

// The module's answer to the caller: its length always, its bytes when they
// fit. A length beyond what the module was given is the module's fault.
SECURITY_STATUS handOut(BYTE* buffer, DWORD length, DWORD limit, bool reverse, PBYTE pbOutput,
                        DWORD cbOutput, DWORD* pcbResult) {
    if (length > limit) {
        return NTE_INTERNAL_ERROR;
    }
    *pcbResult = length;
    if (pbOutput != nullptr) {
        if (cbOutput < length) {
            return NTE_BUFFER_TOO_SMALL;
        }
        if (reverse) {
            reverseBytes(buffer, length);
        }
        std::memcpy(pbOutput, buffer, length);
    }
    return 0;
}

}  // namespace

SECURITY_STATUS QZKSPSignHash(NCRYPT_PROV_HANDLE /*hProvider*/, NCRYPT_KEY_HANDLE hKey,
                              void* /*pPaddingInfo*/, PBYTE pbHashValue, DWORD cbHashValue,
                              PBYTE pbSignature, DWORD cbSignature, DWORD* pcbResult,
                              DWORD dwFlags) {
    const LPCWSTR description = descriptionFor(dwFlags);
    const Held<KspKey> key = holdKey(hKey);
    if (!key) {
        return NTE_INVALID_HANDLE;
    }
    if (pcbResult == nullptr || pbHashValue == nullptr || cbHashValue == 0) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~kSignFlags) != 0) {
        return NTE_BAD_FLAGS;
    }
    if (key->finalized == 0) {
        return NTE_BAD_KEY_STATE;
    }
    ModuleHash hash(key->cspContext);
    if (const SECURITY_STATUS status = hash.create(pbHashValue, cbHashValue); status != 0) {
        return status;
    }
    *pcbResult = cbSignature;
    const CspResult result = callCsp(gCsp.CPSignHash, HCRYPTPROV{key->cspContext}, hash.handle(),
                                     DWORD{key->legacyKeySpec}, description, DWORD{0},
                                     static_cast<BYTE*>(pbSignature), pcbResult);
    if (!result.ok) {
        return rawFailure(result);
    }
    if (pbSignature != nullptr) {
        if (*pcbResult > cbSignature) {
            return NTE_INTERNAL_ERROR;
        }
        reverseBytes(pbSignature, *pcbResult);
    }
    return 0;
}

SECURITY_STATUS QZKSPVerifySignature(NCRYPT_PROV_HANDLE /*hProvider*/, NCRYPT_KEY_HANDLE hKey,
                                     void* /*pPaddingInfo*/, PBYTE pbHashValue, DWORD cbHashValue,
                                     PBYTE pbSignature, DWORD cbSignature, DWORD dwFlags) {
    const Held<KspKey> key = holdKey(hKey);
    if (!key) {
        return NTE_INVALID_HANDLE;
    }
    if (key->finalized == 0) {
        return NTE_BAD_KEY_STATE;
    }
    if (pbHashValue == nullptr || cbHashValue == 0) {
        return NTE_INVALID_PARAMETER;
    }
    if (cbSignature > kWorkBufferBytes || (pbSignature == nullptr && cbSignature != 0)) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~kSignFlags) != 0) {
        return NTE_BAD_FLAGS;
    }
    ModuleHash hash(key->cspContext);
    if (const SECURITY_STATUS status = hash.create(pbHashValue, cbHashValue); status != 0) {
        return status;
    }
    BYTE buffer[kWorkBufferBytes] = {};
    if (cbSignature != 0) {
        std::memcpy(buffer, pbSignature, cbSignature);
    }
    reverseBytes(buffer, cbSignature);
    const CspResult result = callCsp(gCsp.CPVerifySignature, HCRYPTPROV{key->cspContext},
                                     hash.handle(), static_cast<const BYTE*>(buffer), cbSignature,
                                     HCRYPTKEY{key->cspKey}, descriptionFor(dwFlags), DWORD{0});
    return result.ok ? 0 : rawFailure(result);
}

SECURITY_STATUS QZKSPEncrypt(NCRYPT_PROV_HANDLE /*hProvider*/, NCRYPT_KEY_HANDLE hKey,
                             PBYTE pbInput, DWORD cbInput, void* /*pPaddingInfo*/, PBYTE pbOutput,
                             DWORD cbOutput, DWORD* pcbResult, DWORD dwFlags) {
    const Held<KspKey> key = holdKey(hKey);
    if (const SECURITY_STATUS status =
            checkCryptCall(key, pbInput, cbInput, pcbResult, dwFlags, kWorkBufferBytes);
        status != 0) {
        return status;
    }
    PlaintextBuffer buffer;
    std::memcpy(buffer.bytes, pbInput, cbInput);
    DWORD length = cbInput;
    const CspResult result = callCsp(
        gCsp.CPEncrypt, HCRYPTPROV{key->cspContext}, HCRYPTKEY{key->cspKey}, HCRYPTHASH{0},
        BOOL{TRUE}, DWORD{0}, static_cast<BYTE*>(buffer.bytes), &length, DWORD{kWorkBufferBytes});
    if (!result.ok) {
        return mappedFailure(result);
    }
    // The ciphertext leaves big-endian.
    return handOut(buffer.bytes, length, kWorkBufferBytes, true, pbOutput, cbOutput, pcbResult);
}

SECURITY_STATUS QZKSPDecrypt(NCRYPT_PROV_HANDLE /*hProvider*/, NCRYPT_KEY_HANDLE hKey,
                             PBYTE pbInput, DWORD cbInput, void* /*pPaddingInfo*/, PBYTE pbOutput,
                             DWORD cbOutput, DWORD* pcbResult, DWORD dwFlags) {
    const Held<KspKey> key = holdKey(hKey);
    if (const SECURITY_STATUS status =
            checkCryptCall(key, pbInput, cbInput, pcbResult, dwFlags, 0xFFFFFFFFu);
        status != 0) {
        return status;
    }
    if (!isRsa(key->algorithm)) {
        return NTE_INVALID_PARAMETER;
    }
    const std::int64_t blockBytes = (std::int64_t{key->lengthBits} + 7) / 8;
    if (std::int64_t{cbInput} != blockBytes || blockBytes > std::int64_t{kWorkBufferBytes}) {
        return NTE_INVALID_PARAMETER;
    }
    PlaintextBuffer buffer;
    std::memcpy(buffer.bytes, pbInput, cbInput);
    reverseBytes(buffer.bytes, cbInput);
    DWORD length = cbInput;
    const CspResult result =
        callCsp(gCsp.CPDecrypt, HCRYPTPROV{key->cspContext}, HCRYPTKEY{key->cspKey}, HCRYPTHASH{0},
                BOOL{TRUE}, DWORD{0}, static_cast<BYTE*>(buffer.bytes), &length);
    if (!result.ok) {
        return mappedFailure(result);
    }
    return handOut(buffer.bytes, length, cbInput, false, pbOutput, cbOutput, pcbResult);
}

SECURITY_STATUS QZKSPExportKey(NCRYPT_PROV_HANDLE hProvider, NCRYPT_KEY_HANDLE hKey,
                               NCRYPT_KEY_HANDLE /*hExportKey*/, LPCWSTR pszBlobType,
                               NCryptBufferDesc* /*pParameterList*/, PBYTE pbOutput, DWORD cbOutput,
                               DWORD* pcbResult, DWORD dwFlags) {
    if (!isLiveProvider(hProvider)) {
        return NTE_INVALID_HANDLE;
    }
    const Held<KspKey> key = holdKey(hKey);
    if (!key) {
        return NTE_INVALID_HANDLE;
    }
    if (pcbResult == nullptr || pszBlobType == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    if ((dwFlags & ~kExportFlags) != 0) {
        return NTE_BAD_FLAGS;
    }
    if ((dwFlags & NCRYPT_EXPORT_LEGACY_FLAG) != 0) {
        return NTE_NOT_SUPPORTED;
    }
    const std::u16string_view name(pszBlobType, boundedLength(pszBlobType, 32));
    const BlobKind* kind = nullptr;
    for (const BlobKind& candidate : kBlobKinds) {
        if (candidate.name == name) {
            kind = &candidate;
            break;
        }
    }
    if (kind == nullptr) {
        return NTE_INVALID_PARAMETER;
    }
    // Private keys never leave the key.
    if (kind->type == 0) {
        *pcbResult = 0;
        return NTE_NOT_SUPPORTED;
    }
    if (key->finalized == 0) {
        return NTE_BAD_KEY_STATE;
    }
    CspResult result;
    if (pbOutput == nullptr) {
        DWORD length = 0;
        result = callCsp(gCsp.CPExportKey, HCRYPTPROV{key->cspContext}, HCRYPTKEY{key->cspKey},
                         HCRYPTKEY{0}, kind->type, DWORD{0}, static_cast<BYTE*>(nullptr), &length);
        if (result.ok) {
            *pcbResult = length;
        }
    } else {
        *pcbResult = cbOutput;
        result =
            callCsp(gCsp.CPExportKey, HCRYPTPROV{key->cspContext}, HCRYPTKEY{key->cspKey},
                    HCRYPTKEY{0}, kind->type, DWORD{0}, static_cast<BYTE*>(pbOutput), pcbResult);
        if (result.ok && *pcbResult > cbOutput) {
            return NTE_INTERNAL_ERROR;
        }
    }
    return result.ok ? 0 : mappedFailure(result);
}
