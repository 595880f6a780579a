#pragma once

// Small system services: the temporary and system folders, UUIDs and the
// process heap.

#include "win32/types.h"

ORVA_API_ENTRY DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);

// The system folder: $ORVA_SYSTEM_DIR, else /usr/lib/orva/system. Its length
// without the NUL, or the size needed with it when uSize is short.
ORVA_API_ENTRY UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID, UUID;

typedef LONG RPC_STATUS;
typedef unsigned char* RPC_CSTR;

#define RPC_S_OK 0L
#define RPC_S_OUT_OF_MEMORY 14L
#define RPC_S_INVALID_ARG 87L

// A random (version 4) UUID.
ORVA_API_ENTRY RPC_STATUS UuidCreate(UUID* Uuid);
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower case; freed with RpcStringFreeA.
ORVA_API_ENTRY RPC_STATUS UuidToStringA(const UUID* Uuid, RPC_CSTR* StringUuid);
ORVA_API_ENTRY RPC_STATUS RpcStringFreeA(RPC_CSTR* String);

#define HEAP_ZERO_MEMORY 0x00000008u

ORVA_API_ENTRY HANDLE GetProcessHeap(void);
ORVA_API_ENTRY LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
ORVA_API_ENTRY BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
