#pragma once

// Version resources. A module carries its version block as a data structure
// exported under the symbol ORVA_VERSION_BLOCK_SYMBOL (declare it with
// ORVA_VERSION_BLOCK); GetFileVersionInfoA copies it out of the module file
// and VerQueryValueA reads "\" (the fixed part), "\VarFileInfo\Translation"
// and "\StringFileInfo\<language><code page>\<name>".

#include "win32/types.h"

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;  // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

#define VS_FFI_SIGNATURE 0xFEEF04BDu
#define VS_FFI_STRUCVERSION 0x00010000u
#define VOS_NT_WINDOWS32 0x00040004u
#define VFT_DLL 0x00000002u

inline constexpr WORD HIWORD(DWORD value) noexcept {
    return static_cast<WORD>(value >> 16);
}
inline constexpr WORD LOWORD(DWORD value) noexcept {
    return static_cast<WORD>(value & 0xFFFFu);
}

// One named text of the block's string table.
struct OrvaVersionString {
    const char* name;
    const char* value;
};

// What a module exports as its version block.
struct OrvaVersionBlock {
    VS_FIXEDFILEINFO fixed;
    WORD language;  // e.g. 0x0804
    WORD codePage;  // e.g. 1200 (0x04B0)
    const OrvaVersionString* strings;
    DWORD stringCount;
};

#define ORVA_VERSION_BLOCK_SYMBOL "orva_version_block"
#define ORVA_VERSION_BLOCK ORVA_API_ENTRY const OrvaVersionBlock orva_version_block

ORVA_API_ENTRY DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
ORVA_API_ENTRY BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                        LPVOID lpData);
ORVA_API_ENTRY BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer,
                                   UINT* puLen);
