// QZAlgLib's entry points: each checks its arguments, runs its algorithm and
// turns every failure, exceptions included, into its result code.

#include <openssl/err.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "base64.h"
#include "cert_subject.h"
#include "digest.h"
#include "failure.h"
#include "handle_table.h"
#include "maker/export_names.h"
#include "maker/qzalglib.h"
#include "symmetric.h"
#include "win32/errors.h"

namespace orva::qzalg {

namespace {

std::int32_t failed(std::int32_t code, DWORD lastError) noexcept {
    // Nothing reads OpenSSL's queue after a failure: don't let it grow.
    ERR_clear_error();
    SetLastError(lastError);
    return code;
}

// Runs an entry's body, which returns its success result, and maps what it
// throws. "Not supported" is an answer rather than a fault, so it leaves the
// last error alone.
template <class Body>
std::int32_t guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const Failure& failure) {
        switch (failure.code) {
            case QZA_E_NOT_SUPPORTED:
                ERR_clear_error();
                return failure.code;
            case QZA_E_BAD_ARGUMENT:
                return failed(failure.code, ERROR_INVALID_PARAMETER);
            default:
                return failed(failure.code, ERROR_GEN_FAILURE);
        }
    } catch (const std::bad_alloc&) {
        return failed(QZA_E_FAILED, ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        return failed(QZA_E_FAILED, ERROR_GEN_FAILURE);
    }
}

// Streaming digests live here between calls; callers hold numbers.
orva::softkey::HandleTable<Hasher>& hashers() {
    static orva::softkey::HandleTable<Hasher> table(0x5E000000);
    return table;
}

void randomBytes(std::span<std::uint8_t> out) {
    // RAND_bytes counts in int.
    constexpr std::size_t kMaxPiece = std::size_t{1} << 20;
    for (std::size_t done = 0; done < out.size(); done += kMaxPiece) {
        const std::size_t piece = std::min(kMaxPiece, out.size() - done);
        sslCheck(RAND_bytes(out.data() + done, static_cast<int>(piece)) == 1);
    }
}

}  // namespace

}  // namespace orva::qzalg

using orva::qzalg::fail;
using orva::qzalg::guarded;
using orva::qzalg::require;

extern "C" int32_t QZA_Base64_Encode(const uint8_t* data, uint32_t len, char* out) {
    const std::int32_t result = guarded([&] {
        require(data != nullptr && out != nullptr && len > 0);
        const std::size_t size = orva::qzalg::base64Size(len);
        require(size <= INT32_MAX);
        orva::qzalg::base64Encode({data, len}, {out, size});
        return static_cast<std::int32_t>(size);
    });
    // This call's only failure result is 0.
    return std::max(result, 0);
}

extern "C" int32_t QZA_Hash(uint32_t alg, const uint8_t* data, uint32_t len, uint8_t* digest) {
    return guarded([&] {
        require(data != nullptr && digest != nullptr);
        const std::size_t size = orva::qzalg::digestSize(alg);
        if (size == 0) {
            fail(QZA_E_NOT_SUPPORTED);
        }
        orva::qzalg::digest(alg, {data, len}, {digest, size});
        return 0;
    });
}

extern "C" int32_t QZA_Hash_Init(uint32_t alg, void** context) {
    return guarded([&] {
        require(context != nullptr);
        *context = nullptr;
        *context = orva::qzalg::hashers().add(std::make_unique<orva::qzalg::Hasher>(alg));
        return 0;
    });
}

extern "C" int32_t QZA_Hash_Update(void* context, const uint8_t* data, uint32_t len) {
    return guarded([&] {
        orva::qzalg::Hasher* hasher = orva::qzalg::hashers().find(context);
        require(hasher != nullptr && (data != nullptr || len == 0));
        hasher->update({data, len});
        return 0;
    });
}

extern "C" int32_t QZA_Hash_Final(void* context, uint8_t* digest, uint32_t* digestLen) {
    return guarded([&] {
        const std::unique_ptr<orva::qzalg::Hasher> hasher = orva::qzalg::hashers().take(context);
        require(hasher != nullptr);
        if (digest == nullptr) {
            return 0;
        }
        require(digestLen != nullptr && *digestLen >= hasher->size());
        hasher->finish({digest, hasher->size()});
        *digestLen = static_cast<std::uint32_t>(hasher->size());
        return 0;
    });
}

extern "C" int32_t QZA_GetHashValueSize(uint32_t alg) {
    return static_cast<std::int32_t>(orva::qzalg::digestSize(alg));
}

extern "C" int32_t QZA_SM3ZA(const uint8_t* x, uint32_t xLen, const uint8_t* y, uint32_t yLen,
                             uint8_t* z, uint32_t* zLen) {
    return guarded([&] {
        require(x != nullptr && y != nullptr && z != nullptr && zLen != nullptr);
        constexpr std::uint32_t kZSize = std::tuple_size_v<orva::qzalg::Sm2Z>;
        if (*zLen < kZSize) {
            // Tell the caller the room it needs.
            *zLen = kZSize;
            fail(QZA_E_BAD_ARGUMENT);
        }
        const orva::qzalg::Sm2Z value = orva::qzalg::sm2Z({x, xLen}, {y, yLen});
        std::memcpy(z, value.data(), value.size());
        *zLen = kZSize;
        return 0;
    });
}

extern "C" int32_t QZA_Random(uint8_t* buffer, uint32_t len) {
    return guarded([&] {
        require(buffer != nullptr);
        orva::qzalg::randomBytes({buffer, len});
        return 0;
    });
}

extern "C" int32_t QZA_GetSymmBlockSize(uint32_t alg) {
    return static_cast<std::int32_t>(orva::qzalg::symmBlockSize(alg));
}

extern "C" int32_t QZA_Encrypt(uint32_t alg, uint32_t mode, const uint8_t* key, uint32_t keyLen,
                               uint32_t ivLen, const uint8_t* iv, const uint8_t* in, uint32_t inLen,
                               uint8_t* out) {
    return guarded([&] {
        if (alg != QZA_SYMM_SM4_ECB) {
            fail(QZA_E_NOT_SUPPORTED);
        }
        require(mode == QZA_SYMM_MODE_ENCRYPT || mode == QZA_SYMM_MODE_DECRYPT);
        require(key != nullptr && in != nullptr && out != nullptr);
        require(keyLen >= orva::qzalg::symmKeySize(alg));
        // ECB has no IV.
        require(iv == nullptr && ivLen == 0);
        orva::qzalg::sm4Ecb(mode == QZA_SYMM_MODE_ENCRYPT,
                            std::span<const std::uint8_t, 16>(key, 16), {in, inLen}, {out, inLen});
        return 0;
    });
}

extern "C" int32_t QZA_GetAsymKeyBits(uint32_t alg) {
    switch (alg) {
        case QZA_ALG_RSA:
        case QZA_ALG_RSA1024:
            return 1024;
        case QZA_ALG_RSA2048:
            return 2048;
        case QZA_ALG_SM2:
            return 256;
        default:
            return 0;
    }
}

extern "C" int32_t QZA_DecodeX509Cert(const uint8_t* der, uint32_t derLen, char* version,
                                      char* serialNumber, char* signatureAlgorithm, char* issuer,
                                      char* notBefore, char* notAfter, char* subject,
                                      char* publicKeyAlgorithm, uint8_t* publicKey,
                                      uint32_t* publicKeyLen, uint32_t* keyUsage) {
    return guarded([&] {
        require(subject != nullptr);
        // Empty from here on, so that every failure leaves it so.
        subject[0] = '\0';
        const bool otherOutput = version != nullptr || serialNumber != nullptr ||
                                 signatureAlgorithm != nullptr || issuer != nullptr ||
                                 notBefore != nullptr || notAfter != nullptr ||
                                 publicKeyAlgorithm != nullptr || publicKey != nullptr ||
                                 publicKeyLen != nullptr || keyUsage != nullptr;
        if (otherOutput) {
            fail(QZA_E_NOT_SUPPORTED);
        }
        require(der != nullptr);
        const std::string text = orva::qzalg::certSubject({der, derLen});
        std::memcpy(subject, text.data(), text.size());
        subject[text.size()] = '\0';
        return 0;
    });
}

// The library's other entry points, made from the list the token API library
// binds from: it resolves them by name, but none of them works in the software
// key.
#define QZA_CALLED_ENTRY(name)
#define QZA_UNSUPPORTED_ENTRY(name)     \
    ORVA_API_ENTRY int32_t name(void) { \
        return QZA_E_NOT_SUPPORTED;     \
    }

ORVA_QZALGLIB_NAMES(QZA_CALLED_ENTRY, QZA_UNSUPPORTED_ENTRY)
