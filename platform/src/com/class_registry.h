#pragma once

// The registry calls the COM layer makes, over HKEY_CLASSES_ROOT paths, with
// their failures as HRESULTs.

#include <optional>
#include <string>

#include "orva/registry_key.h"
#include "win32/com.h"
#include "win32/registry.h"

namespace orva::platform::com {

using orva::RegistryKey;

// Creates HKCR\path (and the keys above it); *key holds it on S_OK.
HRESULT createClassKey(const std::string& path, RegistryKey* key);
// A string value of an open key; a null name is the key's default value.
HRESULT setString(const RegistryKey& key, const char* name, const std::string& value);
// The string value of HKCR\path; nullopt when the key or value is missing or
// is not a string.
std::optional<std::string> readClassString(const std::string& path, const char* name);
bool classKeyExists(const std::string& path);
// Whether HKCR\path has subkeys.
bool classKeyHasSubkeys(const std::string& path);
// Removes HKCR\path with everything below it; S_OK when it was not there.
HRESULT deleteClassTree(const std::string& path);
// Removes HKCR\path when it has no subkeys left; S_OK when it was not there.
HRESULT deleteClassKeyIfEmpty(const std::string& path);

// UTF-16 from the COM side to the registry's UTF-8, and back.
std::string narrowText(const OLECHAR* text);
std::u16string wideText(const std::string& text);

}  // namespace orva::platform::com
