// The native-messaging host manifest: how Chromium finds our host and which
// extensions may start it.

#include <cjson/cJSON.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "orva/file_replacement.h"
#include "orva/json_ptr.h"
#include "setup.h"

namespace orva::setup {

namespace {

fs::path userConfigFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return config;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home != '/') {
        throw Failure("--user needs HOME (or XDG_CONFIG_HOME) to be set");
    }
    return fs::path(home) / ".config";
}

std::string manifestText(const fs::path& host, const std::vector<std::string>& extensionIds) {
    JsonPtr manifest(cJSON_CreateObject());
    cJSON_AddStringToObject(manifest.get(), "name", kHostName);
    cJSON_AddStringToObject(manifest.get(), "description", "ORVA USB key");
    cJSON_AddStringToObject(manifest.get(), "path", host.c_str());
    cJSON_AddStringToObject(manifest.get(), "type", "stdio");
    cJSON* origins = cJSON_AddArrayToObject(manifest.get(), "allowed_origins");
    if (origins == nullptr) {
        throw std::bad_alloc();
    }
    for (const std::string& id : extensionIds) {
        // An origin must end with '/'.
        cJSON_AddItemToArray(origins,
                             cJSON_CreateString(("chrome-extension://" + id + "/").c_str()));
    }
    const JsonText text(cJSON_Print(manifest.get()));
    if (!text) {
        throw std::bad_alloc();
    }
    return std::string(text.get()) + "\n";
}

void writeAtomically(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    if (!replaceFile(file.string(), text, NewFileMode{0644})) {
        throw Failure("cannot write " + file.string());
    }
}

}  // namespace

bool isExtensionId(const std::string& id) {
    if (id.size() != 32) {
        return false;
    }
    for (const char c : id) {
        if (c < 'a' || c > 'p') {
            return false;
        }
    }
    return true;
}

fs::path manifestFile(const ManifestPlace& place) {
    const std::string fileName = std::string(kHostName) + ".json";
    const bool chrome = place.browser == Browser::chrome;
    switch (place.kind) {
        case ManifestPlace::system:
            return fs::path(chrome ? "/etc/opt/chrome/native-messaging-hosts"
                                   : "/etc/chromium/native-messaging-hosts") /
                   fileName;
        case ManifestPlace::user:
            return userConfigFolder() / (chrome ? "google-chrome" : "chromium") /
                   "NativeMessagingHosts" / fileName;
        case ManifestPlace::userDataDir:
            // The browser reads hosts from its user data folder.
            return place.path / "NativeMessagingHosts" / fileName;
        case ManifestPlace::file:
            return place.path;
    }
    throw Failure("no place for the manifest");
}

fs::path writeManifest(const ManifestPlace& place, const fs::path& host,
                       const std::vector<std::string>& extensionIds) {
    if (!host.is_absolute()) {
        throw Failure("the host's path must be absolute: " + host.string());
    }
    if (::access(host.c_str(), X_OK) != 0) {
        throw Failure("the host is not an executable file: " + host.string());
    }
    for (const std::string& id : extensionIds) {
        if (!isExtensionId(id)) {
            throw Failure("not an extension id (32 letters a to p): " + id);
        }
    }
    const fs::path file = manifestFile(place);
    writeAtomically(file, manifestText(host, extensionIds));
    return file;
}

bool removeManifest(const ManifestPlace& place) {
    return fs::remove(manifestFile(place));
}

}  // namespace orva::setup
