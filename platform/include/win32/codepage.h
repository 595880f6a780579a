#pragma once

// Code-page conversion between multibyte text and UTF-16 for UTF-8 (65001),
// GBK (936) and GB18030 (54936). CP_ACP is $ORVA_ACP, else 65001.

#include "win32/types.h"

#define CP_ACP 0u
#define CP_GBK 936u
#define CP_GB18030 54936u
#define CP_UTF8 65001u

#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u
#define WC_NO_BEST_FIT_CHARS 0x00000400u

ORVA_API_ENTRY int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                       int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
ORVA_API_ENTRY int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                       int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                       LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
// The code page that CP_ACP stands for in this process.
ORVA_API_ENTRY UINT GetACP(void);
