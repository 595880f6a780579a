// Registration of a type library that its server describes in source: the
// layout the platform's own registration writes, pointing at the module.

#include <new>
#include <string>

#include "class_registry.h"
#include "com_guard.h"
#include "orva/com_registration.h"

namespace orva::platform {

namespace {

using com::RegistryKey;

std::string versionText(const TypeLibraryDescription& library) {
    return std::to_string(library.major) + "." + std::to_string(library.minor);
}

std::string libraryPath(const TypeLibraryDescription& library) {
    return "TypeLib\\" + guidText(library.libid);
}

// HKCR\path = value (the default value; nullptr name) or path's named value.
HRESULT writeString(const std::string& path, const char* name, const std::string& value) {
    RegistryKey key;
    const HRESULT hr = com::createClassKey(path, &key);
    return FAILED(hr) ? hr : com::setString(key, name, value);
}

}  // namespace

HRESULT registerTypeLibrary(const TypeLibraryDescription& library,
                            std::string_view modulePath) noexcept {
    return com::guardedCall([&] {
        const std::string module(modulePath);
        const std::size_t slash = module.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : module.substr(0, slash + 1);
        const std::string version = libraryPath(library) + "\\" + versionText(library);
        const std::string libid = guidText(library.libid);
        HRESULT hr = writeString(version, nullptr, library.helpString);
        if (SUCCEEDED(hr)) {
            hr = writeString(version + "\\FLAGS", nullptr, "0");
        }
        if (SUCCEEDED(hr)) {
            hr = writeString(version + "\\HELPDIR", nullptr, folder);
        }
        if (SUCCEEDED(hr)) {
            hr = writeString(version + "\\0\\win64", nullptr, module);
        }
        for (const TypeLibraryInterface& entry : library.interfaces) {
            const std::string path = "Interface\\" + guidText(entry.iid);
            if (SUCCEEDED(hr)) {
                hr = writeString(path, nullptr, entry.name);
            }
            if (SUCCEEDED(hr)) {
                hr = writeString(path + "\\TypeLib", nullptr, libid);
            }
            if (SUCCEEDED(hr)) {
                hr = writeString(path + "\\TypeLib", "Version", versionText(library));
            }
        }
        return hr;
    });
}

HRESULT unregisterTypeLibrary(const TypeLibraryDescription& library) noexcept {
    return com::guardedCall([&] {
        for (const TypeLibraryInterface& entry : library.interfaces) {
            const HRESULT hr = com::deleteClassTree("Interface\\" + guidText(entry.iid));
            if (FAILED(hr)) {
                return hr;
            }
        }
        const HRESULT hr = com::deleteClassTree(libraryPath(library) + "\\" + versionText(library));
        return FAILED(hr) ? hr : com::deleteClassKeyIfEmpty(libraryPath(library));
    });
}

}  // namespace orva::platform
