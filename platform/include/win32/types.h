#pragma once

// The Windows data types the product is written in, sized for LP64 Linux:
// DWORD, LONG and ULONG are 32-bit, WCHAR is UTF-16, handles are pointer-sized.

#include <stddef.h>
#include <stdint.h>

#include "orva/export.h"

// Calling-convention markers have no meaning on x86-64 Linux.
#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef size_t SIZE_T;
typedef LONG LSTATUS;

typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef BOOL* LPBOOL;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

typedef void* HANDLE;
typedef struct OrvaModule* HMODULE;
typedef HMODULE HINSTANCE;
typedef struct OrvaWindow* HWND;
typedef struct OrvaRegistryKey* HKEY;
typedef HKEY* PHKEY;
typedef struct OrvaMenu* HMENU;

typedef LONG_PTR LPARAM;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LRESULT;

// A procedure found by name; callers cast it to its real type.
typedef void (*FARPROC)(void);

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
