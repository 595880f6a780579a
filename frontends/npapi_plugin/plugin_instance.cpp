// The plug-in instance and its window.

#include "plugin_instance.h"

#include <cstring>
#include <string_view>

#include "browser_functions.h"
#include "method_identifiers.h"
#include "scriptable_object.h"

namespace orva::npapi_plugin {

namespace {

constexpr std::string_view kDisplayText = "application/x-orva-ukey-ctrl-korvane:version=1.0.0.0";
static_assert(kDisplayText.size() < 128);

}  // namespace

PluginInstance::PluginInstance(NPP npp) noexcept : npp_(npp) {
    std::memcpy(displayText_.data(), kDisplayText.data(), kDisplayText.size());
    fetchMethodIdentifiers();
}

PluginInstance::~PluginInstance() {
    if (scriptableObject_ != nullptr) {
        NPN_ReleaseObject(scriptableObject_);
    }
}

bool PluginInstance::AttachWindow(NPWindow* window) noexcept {
    if (window == nullptr || window->window == nullptr) {
        return false;
    }
    window_ = static_cast<HWND>(window->window);
    savedProcedure_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PluginWindowProc)));
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    npWindow_ = *window;
    initialised_ = true;
    return true;
}

void PluginInstance::DetachWindow() noexcept {
    if (window_ != nullptr) {
        // Another attach may have subclassed the window since; its procedure stays.
        if (GetWindowLongPtrA(window_, GWLP_WNDPROC) ==
                reinterpret_cast<LONG_PTR>(&PluginWindowProc) &&
            savedProcedure_ != nullptr) {
            SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(savedProcedure_));
        }
        // The window must not paint from this instance once it is gone.
        if (GetWindowLongPtrA(window_, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this)) {
            SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        }
    }
    window_ = nullptr;
    savedProcedure_ = nullptr;
    initialised_ = false;
}

NPObject* PluginInstance::GetScriptableObject() noexcept {
    if (scriptableObject_ == nullptr) {
        scriptableObject_ = NPN_CreateObject(npp_, &ScriptablePluginObjectClass);
    }
    if (scriptableObject_ == nullptr) {
        return nullptr;
    }
    return NPN_RetainObject(scriptableObject_);
}

LRESULT PluginWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint{};
        HDC context = BeginPaint(window, &paint);
        RECT client{};
        GetClientRect(window, &client);
        FrameRect(context, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        const auto* instance =
            reinterpret_cast<const PluginInstance*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (instance != nullptr) {
            const char* text = instance->displayText();
            DrawTextA(context, text, static_cast<int>(std::strlen(text)), &client,
                      DT_SINGLELINE | DT_CENTER | DT_VCENTER);
        }
        EndPaint(window, &paint);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace orva::npapi_plugin
