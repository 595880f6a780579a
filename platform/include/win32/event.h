#pragma once

// Named events over POSIX named semaphores ("/orva.<name>"). Auto-reset only.

#include "win32/registry.h"  // SECURITY_ATTRIBUTES
#include "win32/types.h"

#define EVENT_MODIFY_STATE 0x0002u
#define SYNCHRONIZE 0x00100000u
#define EVENT_ALL_ACCESS 0x001F0003u

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

ORVA_API_ENTRY HANDLE CreateEventA(const SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset,
                                   BOOL bInitialState, LPCSTR lpName);
// Opens an existing event; never creates one.
ORVA_API_ENTRY HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
ORVA_API_ENTRY BOOL SetEvent(HANDLE hEvent);
ORVA_API_ENTRY DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
ORVA_API_ENTRY BOOL CloseHandle(HANDLE hObject);
