// The plug-in's binding: the 64-bit library, found through the registry's
// native view, freed when the plug-in is unloaded or the process exits.

#include "api_loader.h"

#include <type_traits>

namespace orva::npapi_plugin {

namespace {

// No destructor of its own: exit would run one after the library's own
// finalisers, since the plug-in was loaded first.
frontend::ApiBinding binding{0};
static_assert(std::is_trivially_destructible_v<frontend::ApiBinding>);

struct UnloadAtEnd {
    ~UnloadAtEnd() { binding.unloadApiLibrary(); }
};

// Registered once the library is loaded, so that exit runs it before
// anything the library and the maker's libraries registered while loading;
// unloading the plug-in runs it too.
void unloadAtEnd() noexcept {
    static const UnloadAtEnd registered;
}

}  // namespace

bool EnsureApiLoaded() noexcept {
    if (binding.ensureApiLoaded()) {
        unloadAtEnd();
        return true;
    }
    // A failed attempt frees what it loaded, so the next one starts afresh.
    binding.unloadApiLibrary();
    return false;
}

const frontend::ApiFunctionTable& api() noexcept {
    return binding.functions();
}

}  // namespace orva::npapi_plugin
