#pragma once

// The registry file itself, for the orva-reg tool: where it is, why it does
// not parse, and .reg text in and out. Keys and values are otherwise reached
// through the Reg* functions.

#include <cstddef>
#include <string>
#include <string_view>

#include "orva/export.h"
#include "win32/registry.h"

namespace orva::platform {

// Why a .reg text was refused.
struct RegistryTextError {
    std::string file;      // the registry file when it is at fault; empty for an import text
    std::size_t line = 0;  // 1-based; 0 for the text as a whole
    std::string reason;
};

// The file the Reg* functions use now: $ORVA_REGISTRY, else /etc/orva/registry.reg.
ORVA_EXPORT std::string registryFilePath();

// ERROR_SUCCESS when the registry file is missing or parses; when it does not,
// ERROR_REGISTRY_CORRUPT with *error filled; another code when it cannot be read.
ORVA_EXPORT LSTATUS checkRegistryFile(RegistryTextError* error) noexcept;

// Applies .reg text, including [-KEY] and "name"=- deletions, as one change.
// view is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY and maps every key of the
// text. Text that does not parse changes nothing: ERROR_INVALID_PARAMETER
// with *error filled.
ORVA_EXPORT LSTATUS importRegistryText(std::string_view text, REGSAM view,
                                       RegistryTextError* error) noexcept;

// The .reg text of key\subkey (in the given view) and everything below it.
ORVA_EXPORT LSTATUS exportRegistryText(HKEY key, const char* subkey, REGSAM view, std::string* text,
                                       RegistryTextError* error) noexcept;

}  // namespace orva::platform
