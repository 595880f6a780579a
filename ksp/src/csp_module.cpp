// Finding and binding the CSP module when the provider library is loaded,
// and turning the module's failures into the provider's status codes.

#include <cstring>
#include <type_traits>

#include "ksp_internal.h"
#include "orva/registration.h"
#include "win32/registry.h"
#include "win32/system.h"

namespace orva::ksp {

CspModule gCsp;
// Detach may come during exit, after every exit-time destructor has run.
static_assert(std::is_trivially_destructible_v<CspModule>);

namespace {

constexpr const char kDefaultModuleSuffix[] = "/KorvaneV5/Korvane CSP v5.1/qzcore3.dll";
constexpr std::size_t kKeyPathBytes = 256;

// The text between the last '#' and the last '.' of the library's path.
bool providerNameFromPath(const char* path, char* name, std::size_t size) {
    const char* hash = std::strrchr(path, '#');
    const char* dot = std::strrchr(path, '.');
    if (hash == nullptr || dot == nullptr || dot < hash) {
        return false;
    }
    const std::size_t length = static_cast<std::size_t>(dot - hash - 1);
    if (length >= size) {
        return false;
    }
    std::memcpy(name, hash + 1, length);
    name[length] = '\0';
    return true;
}

// "Image Path" of the provider's registration into path; left empty (all
// zero) on any failure, including a value with no NUL inside the buffer.
bool QueryCspImagePath(char* path, const char* providerName) {
    char keyPath[kKeyPathBytes] = {};
    const std::size_t parent = std::strlen(kProviderKeyParent);
    const std::size_t name = std::strlen(providerName);
    if (parent + name + 1 > sizeof keyPath) {
        return false;
    }
    std::memcpy(keyPath, kProviderKeyParent, parent);
    std::memcpy(keyPath + parent, providerName, name + 1);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD length = kPathBytes;
    const LSTATUS status = RegQueryValueExA(key, kImagePathValue, nullptr, &type,
                                            reinterpret_cast<BYTE*>(path), &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || length > kPathBytes ||
        std::memchr(path, '\0', kPathBytes) == nullptr) {
        std::memset(path, 0, kPathBytes);
        return false;
    }
    return true;
}

bool defaultModulePath(char* path) {
    const UINT length = GetSystemDirectoryA(path, kPathBytes);
    const std::size_t suffix = sizeof kDefaultModuleSuffix - 1;
    if (length == 0 || length + suffix + 1 > kPathBytes) {
        std::memset(path, 0, kPathBytes);
        return false;
    }
    std::memcpy(path + length, kDefaultModuleSuffix, suffix + 1);
    return true;
}

template <typename Fn>
void lookUp(Fn& entry, const char* name) {
    entry = reinterpret_cast<Fn>(GetProcAddress(gCsp.module, name));
}

}  // namespace

bool LoadCspModule(HMODULE self) {
    char ownPath[kPathBytes] = {};
    char providerName[kPathBytes] = {};
    char modulePath[kPathBytes] = {};
    if (self != nullptr && GetModuleFileNameA(self, ownPath, kPathBytes) > 0 &&
        providerNameFromPath(ownPath, providerName, sizeof providerName)) {
        QueryCspImagePath(modulePath, providerName);
    }
    if (modulePath[0] == '\0' && !defaultModulePath(modulePath)) {
        return false;
    }
    gCsp = CspModule{};
    gCsp.module = LoadLibraryA(modulePath);
    if (gCsp.module == nullptr) {
        return false;
    }
    lookUp(gCsp.CPAcquireContext, "CPAcquireContext");
    lookUp(gCsp.CPReleaseContext, "CPReleaseContext");
    lookUp(gCsp.CPGenKey, "CPGenKey");
    lookUp(gCsp.CPDeriveKey, "CPDeriveKey");
    lookUp(gCsp.CPDestroyKey, "CPDestroyKey");
    lookUp(gCsp.CPSetKeyParam, "CPSetKeyParam");
    lookUp(gCsp.CPGetKeyParam, "CPGetKeyParam");
    lookUp(gCsp.CPExportKey, "CPExportKey");
    lookUp(gCsp.CPImportKey, "CPImportKey");
    lookUp(gCsp.CPEncrypt, "CPEncrypt");
    lookUp(gCsp.CPDecrypt, "CPDecrypt");
    lookUp(gCsp.CPCreateHash, "CPCreateHash");
    lookUp(gCsp.CPHashData, "CPHashData");
    lookUp(gCsp.CPHashSessionKey, "CPHashSessionKey");
    lookUp(gCsp.CPDestroyHash, "CPDestroyHash");
    lookUp(gCsp.CPSignHash, "CPSignHash");
    lookUp(gCsp.CPVerifySignature, "CPVerifySignature");
    lookUp(gCsp.CPGenRandom, "CPGenRandom");
    lookUp(gCsp.CPGetUserKey, "CPGetUserKey");
    lookUp(gCsp.CPSetProvParam, "CPSetProvParam");
    lookUp(gCsp.CPGetProvParam, "CPGetProvParam");
    lookUp(gCsp.CPSetHashParam, "CPSetHashParam");
    lookUp(gCsp.CPGetHashParam, "CPGetHashParam");
    lookUp(gCsp.CPDuplicateHash, "CPDuplicateHash");
    lookUp(gCsp.CPDuplicateKey, "CPDuplicateKey");
    return true;
}

void UnloadCspModule() {
    if (gCsp.module != nullptr) {
        FreeLibrary(gCsp.module);
    }
    // The addresses die with the module: none may be called after this.
    gCsp = CspModule{};
}

SECURITY_STATUS MapStatusToSecurityStatus(DWORD status) {
    switch (static_cast<LONG>(status)) {
        case 0:
            return 0;
        case STATUS_INVALID_HANDLE:
            return NTE_INVALID_HANDLE;
        case STATUS_INVALID_PARAMETER:
            return NTE_INVALID_PARAMETER;
        case STATUS_NO_MEMORY:
        case STATUS_INSUFFICIENT_RESOURCES:
            return NTE_NO_MEMORY;
        case STATUS_BUFFER_TOO_SMALL:
            return NTE_BUFFER_TOO_SMALL;
        case STATUS_NOT_SUPPORTED:
            return NTE_NOT_SUPPORTED;
        case STATUS_INVALID_SIGNATURE:
            return NTE_BAD_SIGNATURE;
        default:
            return NTE_INTERNAL_ERROR;
    }
}

namespace {

// What every failure shares: a missing entry is unsupported, a failure with
// no reason (or a Win32 code, which reads as success) is internal, and a
// short buffer says so.
std::optional<SECURITY_STATUS> commonFailure(const CspResult& result) {
    if (result.missing) {
        return NTE_NOT_SUPPORTED;
    }
    if (result.lastError == 0) {
        return NTE_INTERNAL_ERROR;
    }
    if (result.lastError == ERROR_MORE_DATA) {
        return NTE_BUFFER_TOO_SMALL;
    }
    return std::nullopt;
}

}  // namespace

SECURITY_STATUS mappedFailure(const CspResult& result) {
    if (const auto status = commonFailure(result)) {
        return *status;
    }
    return MapStatusToSecurityStatus(result.lastError);
}

SECURITY_STATUS rawFailure(const CspResult& result) {
    if (const auto status = commonFailure(result)) {
        return *status;
    }
    return (result.lastError & 0x80000000u) != 0 ? static_cast<SECURITY_STATUS>(result.lastError)
                                                 : NTE_INTERNAL_ERROR;
}

void releaseContext(HCRYPTPROV context) {
    callCsp(gCsp.CPReleaseContext, context, DWORD{0});
}

void destroyKey(HCRYPTPROV context, HCRYPTKEY key) {
    callCsp(gCsp.CPDestroyKey, context, key);
}

void destroyHash(HCRYPTPROV context, HCRYPTHASH hash) {
    callCsp(gCsp.CPDestroyHash, context, hash);
}

}  // namespace orva::ksp

using namespace orva::ksp;

// The provider binds its CSP module at attach; without one it does not load.
ORVA_API_ENTRY BOOL DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID /*lpvReserved*/) {
    try {
        switch (fdwReason) {
            case DLL_PROCESS_ATTACH:
                return LoadCspModule(hinstDLL) ? TRUE : FALSE;
            case DLL_PROCESS_DETACH:
                UnloadCspModule();
                return TRUE;
            default:
                return TRUE;
        }
    } catch (...) {
        return FALSE;
    }
}
