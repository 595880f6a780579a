// The plug-in's binding: the 64-bit library, found through the registry's
// native view, freed when the plug-in is unloaded.

#include "api_loader.h"

namespace orva::npapi_plugin {

namespace {

class ApiLoader {
  public:
    ApiLoader() noexcept = default;
    ~ApiLoader() { binding_.unloadApiLibrary(); }
    ApiLoader(const ApiLoader&) = delete;
    ApiLoader& operator=(const ApiLoader&) = delete;

    bool ensure() noexcept {
        if (binding_.ensureApiLoaded()) {
            return true;
        }
        binding_.unloadApiLibrary();
        return false;
    }
    const frontend::ApiFunctionTable& functions() const noexcept { return binding_.functions(); }

  private:
    frontend::ApiBinding binding_{0};
};

ApiLoader loader;

}  // namespace

bool EnsureApiLoaded() noexcept {
    return loader.ensure();
}

const frontend::ApiFunctionTable& api() noexcept {
    return loader.functions();
}

}  // namespace orva::npapi_plugin
