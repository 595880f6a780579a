#pragma once

// A plug-in library loaded by path, with its three entry points.

#include <string>

#include "npapi/npapi.h"

namespace orva::npapi_host {

class PluginModule {
  public:
    // Throws std::runtime_error when the file does not load or lacks an entry point.
    explicit PluginModule(const std::string& path);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    NP_GetEntryPointsFunc getEntryPoints = nullptr;
    NP_InitializeFunc initialize = nullptr;
    NP_ShutdownFunc shutdown = nullptr;

  private:
    void* handle_ = nullptr;
};

}  // namespace orva::npapi_host
