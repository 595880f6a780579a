// Keys: CPGenKey, CPGetUserKey, CPDestroyKey, CPGetKeyParam, CPSetKeyParam,
// CPExportKey, CPEncrypt, CPDecrypt, and the key entries qzcore3 does not offer.

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>

#include "csp_containers.h"
#include "module_state.h"
#include "win32/errors.h"

using namespace orva::qzcore3;
namespace csp = orva::softkey::csp;

namespace {

std::shared_ptr<LoadedKey> keyOf(Call& call, HCRYPTPROV hProv, HCRYPTKEY hKey) {
    const KeyRef& ref = call.handles().key(hProv, hKey);
    Context& context = call.handles().context(hProv);
    const auto it = context.keys.find(ref.keySpec);
    if (it == context.keys.end()) {
        throw CspError(NTE_NO_KEY);
    }
    return it->second;
}

std::string certificatePem(X509* certificate) {
    orva::BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) {
        throw CspError(NTE_NO_MEMORY);
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

ORVA_API_ENTRY BOOL CPGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
    return runEntry("CPGenKey", std::to_string(Algid) + " " + hexWord(dwFlags), [&](Call& call) {
        Context& context = call.handles().context(hProv);
        if (phKey == nullptr) {
            throw CspError(ERROR_INVALID_PARAMETER);
        }
        if (Algid != AT_KEYEXCHANGE && Algid != AT_SIGNATURE) {
            throw CspError(NTE_BAD_ALGID);
        }
        if (!context.container) {
            throw CspError(NTE_PERM);
        }
        auto key = std::make_shared<LoadedKey>();
        key->pair = generateKey(dwFlags);
        const SecureString pem = privateKeyPem(key->pair);
        // A new key replaces the keySpec's old one, and its certificate with it.
        const bool found =
            csp::updateContainer(call.store(), *context.container, [&](csp::Container& c) {
                *c.slot(Algid) = csp::KeyRecord{pem, std::nullopt};
            });
        if (!found) {
            throw CspError(NTE_BAD_KEYSET);
        }
        context.keys[Algid] = std::move(key);
        *phKey = call.handles().addKey(KeyRef{hProv, Algid});
    });
}

ORVA_API_ENTRY BOOL CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    return runEntry("CPGetUserKey", std::to_string(dwKeySpec), [&](Call& call) {
        Context& context = call.handles().context(hProv);
        if (phUserKey == nullptr) {
            throw CspError(ERROR_INVALID_PARAMETER);
        }
        if (context.keys.find(dwKeySpec) == context.keys.end()) {
            throw CspError(NTE_NO_KEY);
        }
        *phUserKey = call.handles().addKey(KeyRef{hProv, dwKeySpec});
    });
}

ORVA_API_ENTRY BOOL CPDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey) {
    return runEntry("CPDestroyKey", "",
                    [&](Call& call) { call.handles().destroyKey(hProv, hKey); });
}

ORVA_API_ENTRY BOOL CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                                  DWORD* pcbDataLen, DWORD dwFlags) {
    return runEntry("CPGetKeyParam", std::to_string(dwParam), [&](Call& call) {
        const auto key = keyOf(call, hProv, hKey);
        if (dwFlags != 0) {
            throw CspError(NTE_BAD_FLAGS);
        }
        if (dwParam == KP_KEYLEN) {
            const DWORD bits = key->pair.bits;
            fillBuffer({reinterpret_cast<const std::uint8_t*>(&bits), sizeof bits}, pbData,
                       pcbDataLen);
        } else if (dwParam == KP_CERTIFICATE) {
            if (!key->certificate) {
                throw CspError(NTE_NOT_FOUND);
            }
            fillBuffer(*key->certificate, pbData, pcbDataLen);
        } else {
            throw CspError(NTE_BAD_TYPE);
        }
    });
}

// The certificate's byte count comes in dwFlags.
ORVA_API_ENTRY BOOL CPSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam,
                                  const BYTE* pbData, DWORD dwFlags) {
    return runEntry(
        "CPSetKeyParam", std::to_string(dwParam) + " " + std::to_string(dwFlags), [&](Call& call) {
            const KeyRef ref = call.handles().key(hProv, hKey);
            const auto key = keyOf(call, hProv, hKey);
            if (dwParam != KP_CERTIFICATE) {
                throw CspError(NTE_BAD_TYPE);
            }
            if (pbData == nullptr || dwFlags == 0) {
                throw CspError(NTE_BAD_DATA);
            }
            const unsigned char* p = pbData;
            orva::X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(dwFlags)));
            if (!certificate || p != pbData + dwFlags) {
                throw CspError(NTE_BAD_DATA);
            }
            if (!certificateMatches(key->pair, certificate.get())) {
                throw CspError(NTE_BAD_KEY);
            }
            const std::string pem = certificatePem(certificate.get());
            const std::string& name = *call.handles().context(hProv).container;
            const bool found = csp::updateContainer(call.store(), name, [&](csp::Container& c) {
                auto* slot = c.slot(ref.keySpec);
                if (slot == nullptr || !slot->has_value()) {
                    throw CspError(NTE_NO_KEY);
                }
                (*slot)->certificatePem = pem;
            });
            if (!found) {
                throw CspError(NTE_BAD_KEYSET);
            }
            key->certificate = Bytes(pbData, pbData + dwFlags);
        });
}

ORVA_API_ENTRY BOOL CPExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey,
                                DWORD dwBlobType, DWORD dwFlags, BYTE* pbData, DWORD* pcbDataLen) {
    return runEntry("CPExportKey", std::to_string(dwBlobType), [&](Call& call) {
        const KeyRef ref = call.handles().key(hProv, hKey);
        const auto key = keyOf(call, hProv, hKey);
        if (hPubKey != 0 || dwFlags != 0) {
            throw CspError(NTE_BAD_FLAGS);
        }
        fillBuffer(exportPublicBlob(key->pair, dwBlobType, ref.keySpec), pbData, pcbDataLen);
    });
}

// PKCS#1 v1.5 to the key's public half: the plaintext in pbData, the
// ciphertext back in its place, little-endian.
ORVA_API_ENTRY BOOL CPEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal,
                              DWORD dwFlags, BYTE* pbData, DWORD* pcbDataLen, DWORD cbBufLen) {
    return runEntry("CPEncrypt", "", [&](Call& call) {
        const auto key = keyOf(call, hProv, hKey);
        if (hHash != 0 || fFinal == FALSE || dwFlags != 0) {
            throw CspError(NTE_BAD_FLAGS);
        }
        if (pcbDataLen == nullptr) {
            throw CspError(ERROR_INVALID_PARAMETER);
        }
        if (key->pair.kind != KeyKind::rsa) {
            throw CspError(NTE_BAD_KEY);
        }
        const DWORD k = static_cast<DWORD>(modulusBytes(key->pair));
        if (pbData == nullptr) {
            *pcbDataLen = k;
            return;
        }
        if (*pcbDataLen > cbBufLen) {
            throw CspError(NTE_BAD_LEN);
        }
        if (cbBufLen < k) {
            *pcbDataLen = k;
            throw CspError(ERROR_MORE_DATA);
        }
        const Bytes ciphertext = rsaEncrypt(key->pair, {pbData, *pcbDataLen});
        std::memcpy(pbData, ciphertext.data(), ciphertext.size());
        *pcbDataLen = static_cast<DWORD>(ciphertext.size());
    });
}

ORVA_API_ENTRY BOOL CPDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL fFinal,
                              DWORD dwFlags, BYTE* pbData, DWORD* pcbDataLen) {
    return runEntry("CPDecrypt", "", [&](Call& call) {
        const auto key = keyOf(call, hProv, hKey);
        if (hHash != 0 || fFinal == FALSE || dwFlags != 0) {
            throw CspError(NTE_BAD_FLAGS);
        }
        if (pbData == nullptr || pcbDataLen == nullptr) {
            throw CspError(ERROR_INVALID_PARAMETER);
        }
        const SecureBytes plaintext = rsaDecrypt(key->pair, {pbData, *pcbDataLen});
        std::memcpy(pbData, plaintext.data(), plaintext.size());
        *pcbDataLen = static_cast<DWORD>(plaintext.size());
    });
}

ORVA_API_ENTRY BOOL CPDeriveKey(HCRYPTPROV, ALG_ID, HCRYPTHASH, DWORD, HCRYPTKEY*) {
    return runEntry("CPDeriveKey", "", [](Call&) { throw CspError(NTE_NOT_SUPPORTED); });
}

ORVA_API_ENTRY BOOL CPImportKey(HCRYPTPROV, const BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY*) {
    return runEntry("CPImportKey", "", [](Call&) { throw CspError(NTE_NOT_SUPPORTED); });
}

ORVA_API_ENTRY BOOL CPDuplicateKey(HCRYPTPROV, HCRYPTKEY, DWORD*, DWORD, HCRYPTKEY*) {
    return runEntry("CPDuplicateKey", "", [](Call&) { throw CspError(NTE_NOT_SUPPORTED); });
}
