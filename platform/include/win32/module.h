#pragma once

// Module loading: dlopen with Windows' reference counts and DllMain calls.

#include "win32/types.h"

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// Dependencies of the loaded module are found in its own folder first; on
// Linux every module of the product carries $ORIGIN, so the flag changes nothing.
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u

// The entry point a module may export as "DllMain".
typedef BOOL (*DllMainProc)(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);

ORVA_API_ENTRY HMODULE LoadLibraryA(LPCSTR lpLibFileName);
ORVA_API_ENTRY HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
ORVA_API_ENTRY BOOL FreeLibrary(HMODULE hLibModule);
ORVA_API_ENTRY FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
ORVA_API_ENTRY DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
ORVA_API_ENTRY HMODULE GetModuleHandleA(LPCSTR lpModuleName);

// Why this thread's latest LoadLibrary call failed (the dlopen message, or a
// refused DllMain), for diagnostics; empty after a load that succeeded. Valid
// until the thread's next load.
ORVA_API_ENTRY const char* orva_platform_last_load_error(void);
