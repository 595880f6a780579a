#pragma once

// QZKSP's objects and process state, shared by its entry points.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "handle_table.h"
#include "win32/cng.h"
#include "win32/cryptoapi.h"
#include "win32/errors.h"
#include "win32/module.h"
#include "wiped_text.h"

namespace orva::ksp {

// The longest key name in bytes with its terminator: 129 UTF-16 characters.
inline constexpr std::size_t kMaxKeyNameBytes = 260;
// Every path and module-name buffer.
inline constexpr std::size_t kPathBytes = 260;
// Property names longer than this are refused before they are compared.
inline constexpr std::size_t kMaxPropertyNameChars = 64;
// The working buffer of signatures and RSA blocks: 4,096 bits.
inline constexpr std::size_t kWorkBufferBytes = 512;

// The module's descriptions: PSS when the caller asked for it.
inline constexpr char16_t kDescription[] = u"QZKSP";
inline constexpr char16_t kPssDescription[] = u"QZKSP_RSA_PSS";

enum KspKeyAlgorithm : std::int32_t {
    kAlgorithmNone = 0,
    kRsa1024 = 2,
    kRsa2048 = 3,
    kRsa4096 = 4,
    kEc256 = 7,
    kEc384 = 8,
};

inline bool isRsa(std::int32_t algorithm) {
    return algorithm >= kRsa1024 && algorithm <= kRsa4096;
}
inline bool isEc(std::int32_t algorithm) {
    return algorithm == kEc256 || algorithm == kEc384;
}

// The objects behind the handles. Each has its own lock, taken by a call
// for its whole run (Held).
struct KspProvider {
    explicit KspProvider(std::u16string_view providerName) : name(providerName) {}

    std::mutex mutex;
    WipedText name;
    std::optional<WipedText> useContext;
};

// A key, and once it is finalized (or opened) the module's context for its
// container and the key's handle in it, released when the key ends.
struct KspKey {
    KspKey() = default;
    ~KspKey();
    KspKey(const KspKey&) = delete;
    KspKey& operator=(const KspKey&) = delete;

    std::mutex mutex;
    std::optional<WipedText> name;  // none: created without a name
    std::int32_t algorithm = kAlgorithmNone;
    std::int32_t lengthBits = 0;
    std::optional<WipedText> useContext;
    std::uint32_t exportPolicy = 0;
    std::uint32_t keyUsage = 0;
    std::int32_t finalized = 0;
    std::uint32_t flags = 0;
    std::uint64_t cspContext = 0;
    std::uint64_t cspKey = 0;
    std::uint32_t legacyKeySpec = 0;
};

// --- the CSP module (csp_module.cpp) ------------------------------------------

// The module handle and its 25 entry points; a missing one stays null.
struct CspModule {
    HMODULE module = nullptr;
    PFN_CPAcquireContext CPAcquireContext = nullptr;
    PFN_CPReleaseContext CPReleaseContext = nullptr;
    PFN_CPGenKey CPGenKey = nullptr;
    PFN_CPDeriveKey CPDeriveKey = nullptr;
    PFN_CPDestroyKey CPDestroyKey = nullptr;
    PFN_CPSetKeyParam CPSetKeyParam = nullptr;
    PFN_CPGetKeyParam CPGetKeyParam = nullptr;
    PFN_CPExportKey CPExportKey = nullptr;
    PFN_CPImportKey CPImportKey = nullptr;
    PFN_CPEncrypt CPEncrypt = nullptr;
    PFN_CPDecrypt CPDecrypt = nullptr;
    PFN_CPCreateHash CPCreateHash = nullptr;
    PFN_CPHashData CPHashData = nullptr;
    PFN_CPHashSessionKey CPHashSessionKey = nullptr;
    PFN_CPDestroyHash CPDestroyHash = nullptr;
    PFN_CPSignHash CPSignHash = nullptr;
    PFN_CPVerifySignature CPVerifySignature = nullptr;
    PFN_CPGenRandom CPGenRandom = nullptr;
    PFN_CPGetUserKey CPGetUserKey = nullptr;
    PFN_CPSetProvParam CPSetProvParam = nullptr;
    PFN_CPGetProvParam CPGetProvParam = nullptr;
    PFN_CPSetHashParam CPSetHashParam = nullptr;
    PFN_CPGetHashParam CPGetHashParam = nullptr;
    PFN_CPDuplicateHash CPDuplicateHash = nullptr;
    PFN_CPDuplicateKey CPDuplicateKey = nullptr;
};

extern CspModule gCsp;

bool LoadCspModule(HMODULE self);
void UnloadCspModule();

SECURITY_STATUS MapStatusToSecurityStatus(DWORD status);

// How one module call ended: ok, or the last error it left (missing: the
// module lacks the entry, which is then never called).
struct CspResult {
    bool ok = false;
    bool missing = false;
    DWORD lastError = 0;
};

template <typename Fn, typename... Args>
CspResult callCsp(Fn fn, Args... args) {
    if (fn == nullptr) {
        return {false, true, 0};
    }
    if (fn(args...) != FALSE) {
        return {true, false, 0};
    }
    return {false, false, GetLastError()};
}

// A failed call as the entries that map report it, and as those that pass
// the module's code on. Neither is ever success.
SECURITY_STATUS mappedFailure(const CspResult& result);
SECURITY_STATUS rawFailure(const CspResult& result);

// Release paths: results are not looked at; a missing entry is skipped.
void releaseContext(HCRYPTPROV context);
void destroyKey(HCRYPTPROV context, HCRYPTKEY key);
void destroyHash(HCRYPTPROV context, HCRYPTHASH hash);

// --- handles (objects.cpp) and process-wide sets (enumeration.cpp) ---------------

// One lock over the enumeration contexts, the blocks handed out and the
// algorithm cache: the router calls from any thread.
std::mutex& stateMutex();

// The object's handle, or 0 when no more can be given out.
[[nodiscard]] NCRYPT_PROV_HANDLE addProvider(std::unique_ptr<KspProvider> provider);
[[nodiscard]] NCRYPT_KEY_HANDLE addKey(std::unique_ptr<KspKey> key);
// Whether the handle names a live provider, for the entries that only
// check it.
[[nodiscard]] bool isLiveProvider(NCRYPT_PROV_HANDLE handle);
// The live object, held for the call; empty for any other value.
[[nodiscard]] Held<KspProvider> holdProvider(NCRYPT_PROV_HANDLE handle);
[[nodiscard]] Held<KspKey> holdKey(NCRYPT_KEY_HANDLE handle);
// False when the handle named nothing live.
[[nodiscard]] bool removeProvider(NCRYPT_PROV_HANDLE handle);
[[nodiscard]] bool removeKey(NCRYPT_KEY_HANDLE handle);

// A key object with a copy of name (null allowed); null when the name is
// too long or would not reach the module whole.
[[nodiscard]] std::unique_ptr<KspKey> CreateKeyObject(LPCWSTR name);

// The module's 8-bit form of a key name: NTE_INVALID_PARAMETER for a
// character beyond one byte, which would name another container.
std::optional<std::string> narrowKeyName(LPCWSTR name);

// Characters before the NUL, counting at most limit + 1.
std::size_t boundedLength(LPCWSTR text, std::size_t limit);

// --- algorithm cache and enumeration (enumeration.cpp) ---------------------------

bool LoadAlgorithmCache();
// The RSA lengths the cache lists; EC lengths are fixed.
std::optional<NCRYPT_SUPPORTED_LENGTHS> GetSupportedLengths(std::int32_t algorithm);

// --- results ---------------------------------------------------------------------

// The get-property convention: size in *pcbResult; a null buffer asks the
// size; a short one is NTE_BUFFER_TOO_SMALL.
SECURITY_STATUS putOutput(const void* data, std::size_t size, PBYTE output, DWORD cbOutput,
                          DWORD* pcbResult);

void reverseBytes(BYTE* data, std::size_t size);

}  // namespace orva::ksp
