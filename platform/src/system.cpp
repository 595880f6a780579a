// The temporary and system folders, UUIDs and the process heap.

#include "win32/system.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "win32/errors.h"

ORVA_API_ENTRY DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    const char* env = std::getenv("TMPDIR");
    std::string path = (env != nullptr && *env != '\0') ? env : "/tmp";
    if (path.back() != '/') {
        path.push_back('/');
    }
    // Windows: the length without the NUL on success, the size with it when the buffer is short.
    const size_t needed = path.size() + 1;
    if (needed > 0xFFFFFFFFu) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (lpBuffer == nullptr || nBufferLength < needed) {
        return static_cast<DWORD>(needed);
    }
    std::memcpy(lpBuffer, path.c_str(), needed);
    return static_cast<DWORD>(path.size());
}

ORVA_API_ENTRY UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    const char* env = std::getenv("ORVA_SYSTEM_DIR");
    std::string path = (env != nullptr && *env != '\0') ? env : "/usr/lib/orva/system";
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const size_t needed = path.size() + 1;
    if (needed > 0xFFFFFFFFu) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (lpBuffer == nullptr || uSize < needed) {
        return static_cast<UINT>(needed);
    }
    std::memcpy(lpBuffer, path.c_str(), needed);
    return static_cast<UINT>(path.size());
}

ORVA_API_ENTRY RPC_STATUS UuidCreate(UUID* Uuid) {
    if (Uuid == nullptr) {
        return RPC_S_INVALID_ARG;
    }
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return RPC_S_OUT_OF_MEMORY;
        }
        got += static_cast<size_t>(n);
    }
    std::memcpy(&Uuid->Data1, bytes, 4);
    std::memcpy(&Uuid->Data2, bytes + 4, 2);
    std::memcpy(&Uuid->Data3, bytes + 6, 2);
    std::memcpy(Uuid->Data4, bytes + 8, 8);
    // RFC 4122 version 4, variant 10xx.
    Uuid->Data3 = static_cast<WORD>((Uuid->Data3 & 0x0FFFu) | 0x4000u);
    Uuid->Data4[0] = static_cast<BYTE>((Uuid->Data4[0] & 0x3Fu) | 0x80u);
    return RPC_S_OK;
}

ORVA_API_ENTRY RPC_STATUS UuidToStringA(const UUID* Uuid, RPC_CSTR* StringUuid) {
    if (Uuid == nullptr || StringUuid == nullptr) {
        return RPC_S_INVALID_ARG;
    }
    constexpr size_t kTextSize = 37;
    auto* text = static_cast<char*>(std::malloc(kTextSize));
    if (text == nullptr) {
        return RPC_S_OUT_OF_MEMORY;
    }
    const BYTE* d = Uuid->Data4;
    std::snprintf(text, kTextSize, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", Uuid->Data1,
                  Uuid->Data2, Uuid->Data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
    *StringUuid = reinterpret_cast<RPC_CSTR>(text);
    return RPC_S_OK;
}

ORVA_API_ENTRY RPC_STATUS RpcStringFreeA(RPC_CSTR* String) {
    if (String == nullptr) {
        return RPC_S_INVALID_ARG;
    }
    std::free(*String);
    *String = nullptr;
    return RPC_S_OK;
}

namespace {
// The one heap there is; its handle only has to be recognisable.
int processHeap;
}  // namespace

ORVA_API_ENTRY HANDLE GetProcessHeap(void) {
    return &processHeap;
}

ORVA_API_ENTRY LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (hHeap != &processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A zero-byte block is still a distinct, freeable pointer, as on Windows.
    const size_t size = dwBytes == 0 ? 1 : dwBytes;
    void* block = (dwFlags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

ORVA_API_ENTRY BOOL HeapFree(HANDLE hHeap, DWORD /*dwFlags*/, LPVOID lpMem) {
    if (hHeap != &processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(lpMem);
    return TRUE;
}
