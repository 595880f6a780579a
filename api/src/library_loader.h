#pragma once

// The four loaders and four freers of the maker's libraries. Each library is
// loaded from the folder of the module given (ORVA_API itself), found through
// GetModuleFileNameA.

#include <optional>
#include <string>
#include <string_view>

#include "win32/types.h"

namespace orva::api {

inline constexpr const char* kDravikFile = "Dravik.dll";
inline constexpr const char* kQZAlgLibFile = "QZAlgLib.dll";
inline constexpr const char* kPelnorFile = "Pelnor.dll";
inline constexpr const char* kScrivelFile = "Scrivel.dll";

// The path a loader loads fileName from: the module's folder (its path cut
// after the last '/') followed by fileName; the bare fileName when the module's
// path is unknown, so that the system's search order applies; nothing when the
// path has no folder to cut, or was too long to be read whole.
[[nodiscard]] std::optional<std::string> makerLibraryPath(HMODULE self, std::string_view fileName);

// True when Scrivel was loaded (its logging entry points then bound).
[[nodiscard]] bool loadLogLibrary(HMODULE self) noexcept;
// True when the library was loaded and every name of its list was found.
// The module handle is stored even when the load failed.
[[nodiscard]] bool loadDravik(HMODULE self) noexcept;
[[nodiscard]] bool loadQZAlgLib(HMODULE self) noexcept;
[[nodiscard]] bool loadPelnor(HMODULE self) noexcept;

// Each frees its library if its handle is set, and clears the handle.
void freeDravik() noexcept;
void freeQZAlgLib() noexcept;
void freePelnor() noexcept;
void freeLogLibrary() noexcept;

}  // namespace orva::api
