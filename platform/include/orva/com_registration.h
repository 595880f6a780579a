#pragma once

// What our COM servers and their tools need beyond the Windows calls: the
// registrar that runs a server's registry script, the registration of a
// type library described in the server's source, GUID text in UTF-8, and the
// counters and fault switches that tests use.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "orva/export.h"
#include "win32/com.h"

namespace orva::platform {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case; and back.
ORVA_EXPORT std::string guidText(const GUID& guid);
ORVA_EXPORT std::optional<GUID> guidFromText(std::string_view text) noexcept;

// Runs a registry script (under HKCR, the registrar's syntax: quoted or bare
// key names, "= s 'text'" defaults, "val Name = s 'text'", NoRemove,
// ForceRemove, braces) with %MODULE% replaced by modulePath. Registering
// writes the keys, ForceRemove keys emptied first; unregistering removes the
// keys the script names, depth first, except NoRemove keys and keys that
// still hold subkeys the script does not name. A step that fails ends the run
// with its HRESULT; earlier steps stay.
ORVA_EXPORT HRESULT runRegistryScript(std::string_view script, std::string_view modulePath,
                                      bool registering) noexcept;

// A type library as its server describes it.
struct TypeLibraryInterface {
    GUID iid;
    const char* name;
};
struct TypeLibraryDescription {
    GUID libid;
    WORD major;
    WORD minor;
    const char* helpString;
    std::span<const TypeLibraryInterface> interfaces;
};

// HKCR\TypeLib\{LIBID}\<major.minor> with FLAGS, HELPDIR and 0\win64 = the
// module's path, and HKCR\Interface\{IID} naming the library; unregistering
// removes that version and the interface keys.
ORVA_EXPORT HRESULT registerTypeLibrary(const TypeLibraryDescription& library,
                                        std::string_view modulePath) noexcept;
ORVA_EXPORT HRESULT unregisterTypeLibrary(const TypeLibraryDescription& library) noexcept;

// BSTRs allocated and not yet freed, in this process.
ORVA_EXPORT std::size_t liveBstrCount() noexcept;

// Test switches: the next `count` BSTR allocations after `skip` successful ones
// fail; the categories manager cannot be created while the flag is set.
ORVA_EXPORT void failBstrAllocations(std::size_t skip, std::size_t count) noexcept;
ORVA_EXPORT void failCategoriesManager(bool fail) noexcept;

}  // namespace orva::platform
