#pragma once

// One embedded object: its window, which it subclasses to paint, and its
// scriptable object.

#include <array>

#include "npapi/npapi.h"
#include "win32/window.h"

namespace orva::npapi_plugin {

class PluginInstance {
  public:
    explicit PluginInstance(NPP npp) noexcept;
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    // Subclasses the window the NPWindow names; false for none.
    bool AttachWindow(NPWindow* window) noexcept;
    // Gives the window back the procedure it had, if it still runs ours.
    void DetachWindow() noexcept;
    bool IsInitialized() const noexcept { return initialised_; }
    // The scriptable object, created at the first call, with one more
    // reference for the caller; null when it cannot be created.
    NPObject* GetScriptableObject() noexcept;

    const char* displayText() const noexcept { return displayText_.data(); }

  private:
    NPP npp_;
    HWND window_ = nullptr;
    NPWindow npWindow_{};
    bool initialised_ = false;
    NPObject* scriptableObject_ = nullptr;
    std::array<char, 128> displayText_{};
    // The procedure this instance's attach replaced.
    WNDPROC savedProcedure_ = nullptr;
};

LRESULT PluginWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace orva::npapi_plugin
