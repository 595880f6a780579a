#pragma once

// How a front end finds and binds the token API library at run time: the
// product's provider registration names a file, ORVA_API is loaded from that
// file's folder, and all 40 export names are resolved into an ApiFunctionTable.

#include <cstddef>

#include "api_function_table.h"
#include "orva/registration.h"
#include "win32/module.h"
#include "win32/registry.h"

namespace orva::frontend {

// The platform layer loads ORVA_API.so for this name.
inline constexpr const char* kApiLibraryName = "ORVA_API.dll";
// Every path buffer of the binding: MAX_PATH bytes, so a text of at most 259.
inline constexpr std::size_t kPathRoom = MAX_PATH;

// Puts the folder of the provider's "Image Path" into buffer (size bytes),
// ending with its '/', and answers 1; answers 1 with the empty text when the
// key has no such value, so that the bare library name is loaded. Answers 0
// when the key does not open, when the value names no folder, and when the
// value does not fit in the buffer with its NUL (never a cut path). view is
// added to KEY_READ: KEY_WOW64_32KEY for a front end that reads the 32-bit view.
int locateApiFolder(char* buffer, std::size_t size, REGSAM view) noexcept;

// One front end's binding state: the library handle, the function table and
// the bound flag. A front end keeps one for the whole process.
class ApiBinding {
  public:
    explicit ApiBinding(REGSAM registryView) noexcept : registryView_(registryView) {}
    // The library is not freed here: the host keeps it until it exits, and the
    // other front ends call unloadApiLibrary where they unload.
    ~ApiBinding() = default;
    ApiBinding(const ApiBinding&) = delete;
    ApiBinding& operator=(const ApiBinding&) = delete;

    // Loads folder + "ORVA_API.dll" (the bare name for an empty or null folder;
    // with a null folder and a module, the library beside that module) and
    // binds it. 0 when the path does not fit, the load fails or a name is
    // missing. The handle is kept even when binding fails, and a handle from an
    // earlier failed attempt is replaced without being freed: loading the same
    // file again yields the same module.
    int loadApiLibrary(HMODULE module, const char* folder) noexcept;
    // Resolves the 40 names in table order; at the first missing one answers 0,
    // leaving the earlier slots set, that slot null and the later ones as they were.
    int bindApiFunctions() noexcept;
    // Frees the library if one is held. The pointers and the flag stay.
    void unloadApiLibrary() noexcept;

    // Locates and loads unless bound already; true once the binding stands.
    // A failed attempt is repeated in full at the next call.
    bool ensureApiLoaded() noexcept;

    // Binds to functions of this process instead of a loaded library: for
    // the fuzz target and the benchmarks, which bring their own stand-ins.
    void bindInProcess(const ApiFunctionTable& table) noexcept {
        table_ = table;
        bound_ = 1;
    }

    bool bound() const noexcept { return bound_ != 0; }
    const ApiFunctionTable& functions() const noexcept { return table_; }
    HMODULE library() const noexcept { return library_; }

  private:
    REGSAM registryView_;
    HMODULE library_ = nullptr;
    ApiFunctionTable table_;
    int bound_ = 0;
};

}  // namespace orva::frontend
