// Windows without a window system: the windows a host creates, their enabled
// flags, which one is active and which is in the foreground, their procedures
// and user data, and what their painting drew.

#include "win32/window.h"

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orva/display_list.h"
#include "win32/errors.h"

struct OrvaGdiObject {
    int stockIndex;
};

namespace {

struct Window {
    std::string className;
    std::string title;
    HWND parent = nullptr;
    bool enabled = true;
    WNDPROC procedure = DefWindowProcA;
    LONG_PTR userData = 0;
    RECT client{};
    orva::DisplayList painted;
};

std::mutex tableLock;
std::map<HWND, std::unique_ptr<Window>> liveWindows;
HWND activeWindow = nullptr;
HWND foregroundWindow = nullptr;

// The window behind a handle, or null (with ERROR_INVALID_WINDOW_HANDLE). Caller holds tableLock.
Window* find(HWND hWnd) {
    auto it = liveWindows.find(hWnd);
    if (it == liveWindows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return it->second.get();
}

}  // namespace

ORVA_API_ENTRY HWND CreateWindowExA(DWORD /*dwExStyle*/, LPCSTR lpClassName, LPCSTR lpWindowName,
                                    DWORD /*dwStyle*/, int /*X*/, int /*Y*/, int nWidth,
                                    int nHeight, HWND hWndParent, HMENU /*hMenu*/,
                                    HINSTANCE /*hInstance*/, LPVOID /*lpParam*/) {
    try {
        std::lock_guard guard(tableLock);
        if (hWndParent != nullptr && find(hWndParent) == nullptr) {
            return nullptr;
        }
        auto window = std::make_unique<Window>();
        window->className = lpClassName != nullptr ? lpClassName : "";
        window->title = lpWindowName != nullptr ? lpWindowName : "";
        window->parent = hWndParent;
        window->client = RECT{0, 0, nWidth > 0 ? nWidth : 0, nHeight > 0 ? nHeight : 0};
        auto handle = reinterpret_cast<HWND>(window.get());
        liveWindows.emplace(handle, std::move(window));
        return handle;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

ORVA_API_ENTRY BOOL DestroyWindow(HWND hWnd) {
    try {
        std::lock_guard guard(tableLock);
        if (find(hWnd) == nullptr) {
            return FALSE;
        }
        // Children go with their parent.
        std::vector<HWND> doomed{hWnd};
        for (size_t i = 0; i < doomed.size(); ++i) {
            for (const auto& [handle, window] : liveWindows) {
                if (window->parent == doomed[i]) {
                    doomed.push_back(handle);
                }
            }
        }
        for (HWND handle : doomed) {
            liveWindows.erase(handle);
            if (activeWindow == handle) {
                activeWindow = nullptr;
            }
            if (foregroundWindow == handle) {
                foregroundWindow = nullptr;
            }
        }
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

ORVA_API_ENTRY BOOL IsWindow(HWND hWnd) {
    std::lock_guard guard(tableLock);
    return liveWindows.count(hWnd) != 0 ? TRUE : FALSE;
}

ORVA_API_ENTRY BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
    std::lock_guard guard(tableLock);
    Window* window = find(hWnd);
    if (window == nullptr) {
        return FALSE;
    }
    const bool wasDisabled = !window->enabled;
    window->enabled = bEnable != FALSE;
    return wasDisabled ? TRUE : FALSE;
}

ORVA_API_ENTRY BOOL IsWindowEnabled(HWND hWnd) {
    std::lock_guard guard(tableLock);
    Window* window = find(hWnd);
    return window != nullptr && window->enabled ? TRUE : FALSE;
}

ORVA_API_ENTRY HWND GetActiveWindow(void) {
    std::lock_guard guard(tableLock);
    return activeWindow;
}

ORVA_API_ENTRY HWND SetActiveWindow(HWND hWnd) {
    std::lock_guard guard(tableLock);
    if (hWnd != nullptr && find(hWnd) == nullptr) {
        return nullptr;
    }
    HWND previous = activeWindow;
    activeWindow = hWnd;
    return previous;
}

ORVA_API_ENTRY HWND GetForegroundWindow(void) {
    std::lock_guard guard(tableLock);
    return foregroundWindow;
}

ORVA_API_ENTRY BOOL SetForegroundWindow(HWND hWnd) {
    std::lock_guard guard(tableLock);
    if (find(hWnd) == nullptr) {
        return FALSE;
    }
    foregroundWindow = hWnd;
    return TRUE;
}

namespace {

// One device context per window: its handle is the window's.
HDC contextOf(HWND hWnd) {
    return reinterpret_cast<HDC>(hWnd);
}
HWND windowOf(HDC hdc) {
    return reinterpret_cast<HWND>(hdc);
}

// Appends to the painting in progress; false when none is.
bool record(HDC hdc, orva::PaintRecord entry) {
    std::lock_guard guard(tableLock);
    Window* window = find(windowOf(hdc));
    if (window == nullptr || window->painted.complete) {
        return false;
    }
    window->painted.records.push_back(std::move(entry));
    return true;
}

}  // namespace

ORVA_API_ENTRY LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    std::lock_guard guard(tableLock);
    Window* window = find(hWnd);
    if (window == nullptr) {
        return 0;
    }
    LONG_PTR previous = 0;
    switch (nIndex) {
        case GWLP_WNDPROC:
            if (dwNewLong == 0) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return 0;
            }
            previous = reinterpret_cast<LONG_PTR>(window->procedure);
            window->procedure = reinterpret_cast<WNDPROC>(dwNewLong);
            break;
        case GWLP_USERDATA:
            previous = window->userData;
            window->userData = dwNewLong;
            break;
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return previous;
}

ORVA_API_ENTRY LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex) {
    std::lock_guard guard(tableLock);
    Window* window = find(hWnd);
    if (window == nullptr) {
        return 0;
    }
    switch (nIndex) {
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(window->procedure);
        case GWLP_USERDATA:
            return window->userData;
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
}

ORVA_API_ENTRY LRESULT DefWindowProcA(HWND /*hWnd*/, UINT /*Msg*/, WPARAM /*wParam*/,
                                      LPARAM /*lParam*/) {
    return 0;
}

ORVA_API_ENTRY LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC procedure = nullptr;
    {
        std::lock_guard guard(tableLock);
        Window* window = find(hWnd);
        if (window == nullptr) {
            return 0;
        }
        procedure = window->procedure;
    }
    // Unlocked: the procedure calls back into the table.
    return procedure(hWnd, Msg, wParam, lParam);
}

ORVA_API_ENTRY HDC BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    std::lock_guard guard(tableLock);
    Window* window = find(hWnd);
    if (window == nullptr || lpPaint == nullptr) {
        return nullptr;
    }
    window->painted = orva::DisplayList{};
    std::memset(lpPaint, 0, sizeof *lpPaint);
    lpPaint->hdc = contextOf(hWnd);
    lpPaint->rcPaint = window->client;
    return lpPaint->hdc;
}

ORVA_API_ENTRY BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint) {
    std::lock_guard guard(tableLock);
    Window* window = find(hWnd);
    if (window == nullptr || lpPaint == nullptr || lpPaint->hdc != contextOf(hWnd)) {
        return FALSE;
    }
    window->painted.complete = true;
    return TRUE;
}

ORVA_API_ENTRY BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
    std::lock_guard guard(tableLock);
    Window* window = find(hWnd);
    if (window == nullptr || lpRect == nullptr) {
        return FALSE;
    }
    *lpRect = window->client;
    return TRUE;
}

ORVA_API_ENTRY HGDIOBJ GetStockObject(int i) {
    static std::array<OrvaGdiObject, 20> stock = [] {
        std::array<OrvaGdiObject, 20> objects{};
        for (std::size_t index = 0; index < objects.size(); ++index) {
            objects[index].stockIndex = static_cast<int>(index);
        }
        return objects;
    }();
    if (i < 0 || static_cast<std::size_t>(i) >= stock.size()) {
        return nullptr;
    }
    return &stock[static_cast<std::size_t>(i)];
}

ORVA_API_ENTRY int FrameRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    if (lprc == nullptr || hbr == nullptr) {
        return 0;
    }
    try {
        return record(hDC, {orva::PaintRecord::Kind::frame, *lprc, hbr, {}, 0, 0, 0}) ? 1 : 0;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

ORVA_API_ENTRY int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
    if (lpchText == nullptr || lprc == nullptr || cchText < -1) {
        return 0;
    }
    try {
        const std::size_t length =
            cchText == -1 ? std::strlen(lpchText) : static_cast<std::size_t>(cchText);
        const RECT rect = *lprc;
        // Centring on the fixed cell, in 64 bits: a long text starts left of the rectangle.
        const long long textWidth = static_cast<long long>(length) * orva::kCellWidth;
        long long x = rect.left;
        if ((format & DT_CENTER) != 0) {
            x = rect.left + (static_cast<long long>(rect.right) - rect.left - textWidth) / 2;
        }
        LONG y = rect.top;
        if ((format & DT_VCENTER) != 0 && (format & DT_SINGLELINE) != 0) {
            y = rect.top + (rect.bottom - rect.top - orva::kCellHeight) / 2;
        }
        orva::PaintRecord entry{orva::PaintRecord::Kind::text,
                                rect,
                                nullptr,
                                std::string(lpchText, length),
                                format,
                                static_cast<LONG>(std::max<long long>(x, INT32_MIN)),
                                y};
        return record(hdc, std::move(entry)) ? orva::kCellHeight : 0;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

namespace orva {

DisplayList windowDisplayList(HWND window) {
    std::lock_guard guard(tableLock);
    const auto it = liveWindows.find(window);
    return it != liveWindows.end() ? it->second->painted : DisplayList{};
}

}  // namespace orva
