#pragma once

// The caller's window is disabled while the key waits for its button, so that
// the page cannot start another request meanwhile.

namespace orva::api {

// Forgets the window saved last; takes the calling thread's active window, else
// the foreground window, saves it and disables it. With neither, nothing.
void disableForegroundWindow() noexcept;

// Enables the saved window again, if any; the handle stays saved until the
// next disable.
void enableForegroundWindow() noexcept;

// Disabled for the life of the object, enabled again on every path out.
class ForegroundWindowDisabled {
  public:
    ForegroundWindowDisabled() noexcept { disableForegroundWindow(); }
    ~ForegroundWindowDisabled() { enableForegroundWindow(); }
    ForegroundWindowDisabled(const ForegroundWindowDisabled&) = delete;
    ForegroundWindowDisabled& operator=(const ForegroundWindowDisabled&) = delete;
};

}  // namespace orva::api
