#pragma once

// A page with one embedded plug-in object: the plug-in loaded and started,
// one instance in its own window, painted, and its scriptable object. The
// destructor takes it all down in the browser's order.

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "npapi/npapi.h"
#include "plugin_module.h"
#include "script_value.h"
#include "stand_in_browser.h"
#include "win32/window.h"

namespace orva::npapi_host {

// A step of the start that the plug-in refused, with its NPError.
class PluginError : public std::runtime_error {
  public:
    PluginError(const std::string& step, NPError code)
        : std::runtime_error(step + " answered " + std::to_string(code)), code_(code) {}
    NPError code() const noexcept { return code_; }

  private:
    NPError code_;
};

struct CallResult {
    bool invoked = false;  // false: the object has no such method
    ScriptValue value;
};

class PluginSession {
  public:
    static constexpr int kWindowWidth = 480;
    static constexpr int kWindowHeight = 40;

    // Throws PluginError for a refused step, std::runtime_error for a load failure.
    PluginSession(StandInBrowser& browser, const std::string& pluginPath);
    ~PluginSession();
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    // Sends the window a paint message.
    void paint();
    bool hasMethod(std::string_view method);
    // Invokes a method and releases its result.
    CallResult invoke(std::string_view method, const std::vector<ScriptValue>& arguments);
    CallResult invokeDefault();

    HWND window() const noexcept { return window_; }
    NPP npp() noexcept { return &npp_; }
    NPObject* object() const noexcept { return object_; }
    const NPPluginFuncs& pluginFunctions() const noexcept { return plugin_; }

  private:
    CallResult finish(bool invoked, NPVariant& result);
    void takeDown() noexcept;

    StandInBrowser& browser_;
    std::unique_ptr<PluginModule> module_;
    NPPluginFuncs plugin_{};
    NPNetscapeFuncs functions_{};
    NPP_t npp_{};
    bool instanceMade_ = false;
    HWND window_ = nullptr;
    NPWindow npWindow_{};
    NPObject* object_ = nullptr;
};

}  // namespace orva::npapi_host
