#include "foreground_window.h"

#include "win32/window.h"

namespace orva::api {

namespace {

// Process-wide, like the window it names: one request at a time.
HWND savedWindow = nullptr;

}  // namespace

void disableForegroundWindow() noexcept {
    savedWindow = nullptr;
    HWND window = GetActiveWindow();
    if (window == nullptr) {
        window = GetForegroundWindow();
    }
    if (window == nullptr) {
        return;
    }
    savedWindow = window;
    EnableWindow(window, FALSE);
}

void enableForegroundWindow() noexcept {
    if (savedWindow != nullptr) {
        EnableWindow(savedWindow, TRUE);
    }
}

}  // namespace orva::api
