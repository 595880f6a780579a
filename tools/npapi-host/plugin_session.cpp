// Driving a plug-in as a browser does for one embedded object.

#include "plugin_session.h"

namespace orva::npapi_host {

namespace {

constexpr const char* kMimeType = "application/orva-firefox-XR-plugin";

}  // namespace

PluginSession::PluginSession(StandInBrowser& browser, const std::string& pluginPath)
    : browser_(browser), module_(std::make_unique<PluginModule>(pluginPath)) {
    try {
        plugin_.size = sizeof plugin_;
        if (const NPError code = module_->getEntryPoints(&plugin_); code != NPERR_NO_ERROR) {
            throw PluginError("NP_GetEntryPoints", code);
        }
        functions_ = browser_.functions();
        if (const NPError code = module_->initialize(&functions_); code != NPERR_NO_ERROR) {
            throw PluginError("NP_Initialize", code);
        }
        std::string mime = kMimeType;
        if (const NPError code = plugin_.newp(mime.data(), &npp_, 1, 0, nullptr, nullptr, nullptr);
            code != NPERR_NO_ERROR) {
            throw PluginError("NPP_New", code);
        }
        instanceMade_ = true;
        window_ = CreateWindowExA(0, "npapi-host", "plug-in", 0, 0, 0, kWindowWidth, kWindowHeight,
                                  nullptr, nullptr, nullptr, nullptr);
        if (window_ == nullptr) {
            throw std::runtime_error("cannot create the plug-in's window");
        }
        npWindow_.window = window_;
        npWindow_.width = kWindowWidth;
        npWindow_.height = kWindowHeight;
        npWindow_.clipRect = {0, 0, kWindowHeight, kWindowWidth};
        npWindow_.type = NPWindowTypeWindow;
        if (const NPError code = plugin_.setwindow(&npp_, &npWindow_); code != NPERR_NO_ERROR) {
            throw PluginError("NPP_SetWindow", code);
        }
        paint();
        if (const NPError code = plugin_.getvalue(&npp_, NPPVpluginScriptableNPObject, &object_);
            code != NPERR_NO_ERROR) {
            throw PluginError("NPP_GetValue", code);
        }
    } catch (...) {
        takeDown();
        throw;
    }
}

PluginSession::~PluginSession() {
    takeDown();
}

void PluginSession::takeDown() noexcept {
    if (instanceMade_) {
        plugin_.destroy(&npp_, nullptr);
        instanceMade_ = false;
    }
    if (object_ != nullptr) {
        browser_.releaseObject(object_);
        object_ = nullptr;
    }
    if (window_ != nullptr) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
    if (module_) {
        module_->shutdown();
        module_.reset();
    }
}

void PluginSession::paint() {
    SendMessageA(window_, WM_PAINT, 0, 0);
}

bool PluginSession::hasMethod(std::string_view method) {
    return object_->_class->hasMethod(object_, browser_.identifier(method));
}

CallResult PluginSession::invoke(std::string_view method,
                                 const std::vector<ScriptValue>& arguments) {
    const std::vector<NPVariant> variants = toVariants(arguments);
    NPVariant result{};
    result.type = NPVariantType_Void;
    const bool invoked =
        object_->_class->invoke(object_, browser_.identifier(method), variants.data(),
                                static_cast<uint32_t>(variants.size()), &result);
    return finish(invoked, result);
}

CallResult PluginSession::invokeDefault() {
    NPVariant result{};
    result.type = NPVariantType_Void;
    const bool invoked = object_->_class->invokeDefault(object_, nullptr, 0, &result);
    return finish(invoked, result);
}

CallResult PluginSession::finish(bool invoked, NPVariant& result) {
    CallResult answer{invoked, fromVariant(result)};
    browser_.releaseVariant(result);
    return answer;
}

}  // namespace orva::npapi_host
