// Windows without a window system: the windows a host creates, their enabled
// flags, and which one is active and which is in the foreground.

#include "win32/window.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "win32/errors.h"

namespace {

struct Window {
    std::string className;
    std::string title;
    HWND parent = nullptr;
    bool enabled = true;
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
                                    DWORD /*dwStyle*/, int /*X*/, int /*Y*/, int /*nWidth*/,
                                    int /*nHeight*/, HWND hWndParent, HMENU /*hMenu*/,
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
