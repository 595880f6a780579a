// Loading a plug-in library.

#include "plugin_module.h"

#include <dlfcn.h>

#include <stdexcept>

namespace orva::npapi_host {

namespace {

template <class Function>
Function entryPoint(void* handle, const char* name) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        throw std::runtime_error(std::string("the plug-in lacks ") + name);
    }
    return reinterpret_cast<Function>(symbol);
}

}  // namespace

PluginModule::PluginModule(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* error = dlerror();
        throw std::runtime_error("cannot load " + path + ": " + (error ? error : "unknown"));
    }
    try {
        getEntryPoints = entryPoint<NP_GetEntryPointsFunc>(handle_, "NP_GetEntryPoints");
        initialize = entryPoint<NP_InitializeFunc>(handle_, "NP_Initialize");
        shutdown = entryPoint<NP_ShutdownFunc>(handle_, "NP_Shutdown");
    } catch (...) {
        dlclose(handle_);
        throw;
    }
}

PluginModule::~PluginModule() {
    dlclose(handle_);
}

}  // namespace orva::npapi_host
