// The registry file for the orva-reg tool: checking, import and export.

#include "orva/registry_file.h"

#include <utility>

#include "registry_entry.h"
#include "registry_handles.h"
#include "registry_store.h"
#include "registry_text.h"

namespace orva::platform {

namespace {

void report(const registry::TextError& from, std::string file, RegistryTextError* to) {
    if (to != nullptr) {
        to->file = std::move(file);
        to->line = from.line;
        to->reason = from.reason;
    }
}

}  // namespace

std::string registryFilePath() {
    return registry::registryFilePath();
}

LSTATUS checkRegistryFile(RegistryTextError* error) noexcept {
    return registry::guarded([&]() -> LSTATUS {
        const registry::Snapshot snapshot = registry::readRegistry();
        if (snapshot.status == ERROR_REGISTRY_CORRUPT) {
            report(snapshot.error, registry::registryFilePath(), error);
        }
        return snapshot.status;
    });
}

LSTATUS importRegistryText(std::string_view text, REGSAM view, RegistryTextError* error) noexcept {
    return registry::guarded([&]() -> LSTATUS {
        bool wow32 = false;
        LSTATUS status = registry::viewOf(view, &wow32);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        registry::Document document;
        registry::TextError textError;
        if (!registry::parseText(text, registry::TextKind::kImport, &document, &textError)) {
            report(textError, std::string(), error);
            return ERROR_INVALID_PARAMETER;
        }
        status = registry::modifyRegistry(
            [&](registry::Hive& hive, bool& changed) -> LSTATUS {
                registry::applyDocument(document, wow32, hive);
                changed = true;
                return ERROR_SUCCESS;
            },
            &textError);
        if (status == ERROR_REGISTRY_CORRUPT) {
            report(textError, registry::registryFilePath(), error);
        }
        return status;
    });
}

LSTATUS exportRegistryText(HKEY key, const char* subkey, REGSAM view, std::string* text,
                           RegistryTextError* error) noexcept {
    return registry::guarded([&]() -> LSTATUS {
        if (text == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        bool wow32 = false;
        LSTATUS status = registry::viewOf(view, &wow32);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        registry::KeyRef base;
        status = registry::lookupHandle(key, &base);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        constexpr REGSAM kNeeded = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
        if ((base.access & kNeeded) != kNeeded) {
            return ERROR_ACCESS_DENIED;
        }
        registry::KeyPath path = base.path;
        status = registry::appendSubkey(path, subkey);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (wow32) {
            registry::mapTo32BitView(path);
        }
        const registry::Snapshot snapshot = registry::readRegistry();
        if (snapshot.status != ERROR_SUCCESS) {
            if (snapshot.status == ERROR_REGISTRY_CORRUPT) {
                report(snapshot.error, registry::registryFilePath(), error);
            }
            return snapshot.status;
        }
        status = registry::checkAlive(base, *snapshot.hive);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        const registry::Key* found = snapshot.hive->find(path);
        if (found == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        *text = registry::writeKeyTree(*found, path);
        return ERROR_SUCCESS;
    });
}

}  // namespace orva::platform
