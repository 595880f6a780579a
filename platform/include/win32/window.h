#pragma once

// Windows without a window system: a table of the windows a host creates,
// their enabled flags, and which one is active and foreground. The file-open
// dialog runs $ORVA_FILE_DIALOG.

#include "win32/types.h"

ORVA_API_ENTRY HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                    DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                    HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                    LPVOID lpParam);
ORVA_API_ENTRY BOOL DestroyWindow(HWND hWnd);
ORVA_API_ENTRY BOOL IsWindow(HWND hWnd);
// Returns nonzero when the window was disabled before the call.
ORVA_API_ENTRY BOOL EnableWindow(HWND hWnd, BOOL bEnable);
ORVA_API_ENTRY BOOL IsWindowEnabled(HWND hWnd);
ORVA_API_ENTRY HWND GetActiveWindow(void);
// Returns the window that was active before.
ORVA_API_ENTRY HWND SetActiveWindow(HWND hWnd);
ORVA_API_ENTRY HWND GetForegroundWindow(void);
ORVA_API_ENTRY BOOL SetForegroundWindow(HWND hWnd);

// Window procedures, subclassing and painting. A window starts with
// DefWindowProcA as its procedure and a client area of the size it was
// created with; painting is recorded in the window's display list.

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef struct OrvaDeviceContext* HDC;
typedef struct OrvaGdiObject* HGDIOBJ;
typedef HGDIOBJ HBRUSH;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

#define GWLP_WNDPROC (-4)
#define GWLP_USERDATA (-21)
#define WM_PAINT 0x000Fu
#define BLACK_BRUSH 4
#define DT_CENTER 0x00000001u
#define DT_VCENTER 0x00000004u
#define DT_SINGLELINE 0x00000020u

// The previous value; 0 with ERROR_INVALID_WINDOW_HANDLE for an unknown
// window or ERROR_INVALID_INDEX for another index.
ORVA_API_ENTRY LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
ORVA_API_ENTRY LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex);
ORVA_API_ENTRY LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// Calls the window's current procedure.
ORVA_API_ENTRY LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// Starts a new display list for the window.
ORVA_API_ENTRY HDC BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint);
ORVA_API_ENTRY BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);
ORVA_API_ENTRY BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
ORVA_API_ENTRY HGDIOBJ GetStockObject(int i);
ORVA_API_ENTRY int FrameRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
// The text's height; cchText -1 takes the text up to its NUL.
ORVA_API_ENTRY int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format);

typedef UINT_PTR (*LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

// Our own layout of the dialog's parameter block; lStructSize is its size.
typedef struct tagOFNA {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCSTR lpstrFilter;
    LPSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    LPSTR lpstrFile;
    DWORD nMaxFile;
    LPSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCSTR lpstrInitialDir;
    LPCSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCSTR lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
} OPENFILENAMEA, *LPOPENFILENAMEA;

#define OFN_READONLY 0x00000001u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_PATHMUSTEXIST 0x00000800u
#define OFN_FILEMUSTEXIST 0x00001000u
#define OFN_EXPLORER 0x00080000u

// CommDlgExtendedError codes.
#define CDERR_STRUCTSIZE 0x0001u
#define CDERR_INITIALIZATION 0x0002u
#define FNERR_BUFFERTOOSMALL 0x3003u

// TRUE with the chosen path in lpstrFile; FALSE when cancelled or failed
// (CommDlgExtendedError tells which: 0 is a cancel).
ORVA_API_ENTRY BOOL GetOpenFileNameA(LPOPENFILENAMEA lpofn);
ORVA_API_ENTRY DWORD CommDlgExtendedError(void);
