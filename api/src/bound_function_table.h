#pragma once

// BoundFunctionTable: every function of Dravik, QZAlgLib and Pelnor that the
// library knows by name, looked up once when the library is loaded, and the
// module handles of the four maker libraries. The resolvers write it during
// attach; every other part of the library calls the maker only through it.

#include <cstddef>

#include "maker/dravik.h"
#include "maker/export_names.h"
#include "maker/pelnor.h"
#include "maker/qzalglib.h"
#include "win32/module.h"
#include "win32/types.h"

namespace orva::api {

#define ORVA_TYPED_ENTRY(name) decltype(&::name) name = nullptr;
#define ORVA_UNTYPED_ENTRY(name) FARPROC name = nullptr;

struct DravikApi {
    ORVA_DRAVIK_NAMES(ORVA_TYPED_ENTRY, ORVA_UNTYPED_ENTRY)
};

struct QZAlgLibApi {
    ORVA_QZALGLIB_NAMES(ORVA_TYPED_ENTRY, ORVA_UNTYPED_ENTRY)
};

struct PelnorApi {
    ORVA_PELNOR_NAMES(ORVA_TYPED_ENTRY, ORVA_UNTYPED_ENTRY)
};

#undef ORVA_TYPED_ENTRY
#undef ORVA_UNTYPED_ENTRY

struct BoundFunctionTable {
    DravikApi dravik;
    QZAlgLibApi qzAlgLib;
    PelnorApi pelnor;
    HMODULE dravikModule = nullptr;
    HMODULE qzAlgLibModule = nullptr;
    HMODULE pelnorModule = nullptr;
    HMODULE scrivelModule = nullptr;
};

// The process-wide table, zero until the library is attached.
BoundFunctionTable& boundFunctions() noexcept;

// How many names the three lists hold (88 + 38 + 6), and how many entries of
// the table are set.
std::size_t boundNameCount() noexcept;
std::size_t boundEntryCount() noexcept;

// Each looks up its list in its library's module, one name at a time in list
// order, storing every result; the first name not found ends it with 0 and
// leaves the entries after it as they were. True when every name was found.
[[nodiscard]] bool resolveDravik() noexcept;
[[nodiscard]] bool resolveQZAlgLib() noexcept;
[[nodiscard]] bool resolvePelnor() noexcept;

// Zeroes every entry (the module handles are the freers' to clear).
void clearBoundEntries() noexcept;

}  // namespace orva::api
