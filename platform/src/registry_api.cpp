// The Reg* entry points over the file-backed registry.

#include <cstring>
#include <string>
#include <string_view>

#include "registry_entry.h"
#include "registry_handles.h"
#include "registry_model.h"
#include "registry_store.h"
#include "win32/registry.h"

namespace orva::platform::registry {

LSTATUS checkAlive(const KeyRef& ref, const Hive& hive) {
    if (ref.deleted || (!ref.predefined && hive.find(ref.path) == nullptr)) {
        return ERROR_KEY_DELETED;
    }
    return ERROR_SUCCESS;
}

LSTATUS findKey(const KeyRef& ref, const Hive& hive, const Key** key) {
    *key = nullptr;
    const LSTATUS status = checkAlive(ref, hive);
    if (status == ERROR_SUCCESS) {
        *key = hive.find(ref.path);
    }
    return status;
}

}  // namespace orva::platform::registry

namespace reg = orva::platform::registry;

namespace {

// The same for a change: a predefined root's missing key is created.
LSTATUS findKeyForChange(const reg::KeyRef& ref, reg::Hive& hive, reg::Key** key) {
    *key = nullptr;
    const LSTATUS status = reg::checkAlive(ref, hive);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    *key = ref.predefined ? hive.create(ref.path, nullptr) : hive.find(ref.path);
    return *key != nullptr ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LSTATUS requireAccess(const reg::KeyRef& ref, REGSAM needed) {
    return (ref.access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// The key a handle names, once its access allows `needed`.
LSTATUS lookupWithAccess(HKEY handle, REGSAM needed, reg::KeyRef* ref) {
    const LSTATUS status = reg::lookupHandle(handle, ref);
    return status != ERROR_SUCCESS ? status : requireAccess(*ref, needed);
}

// The handle and its path extended by a relative subkey.
LSTATUS target(HKEY key, LPCSTR subkey, reg::KeyRef* base, reg::KeyPath* path) {
    LSTATUS status = reg::lookupHandle(key, base);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    *path = base->path;
    return reg::appendSubkey(*path, subkey);
}

// target(), then the 32-bit view's mapping when samDesired asks for it.
LSTATUS targetInView(HKEY key, LPCSTR subkey, REGSAM samDesired, reg::KeyRef* base,
                     reg::KeyPath* path) {
    bool wow32 = false;
    LSTATUS status = reg::viewOf(samDesired, &wow32);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = target(key, subkey, base, path);
    if (status == ERROR_SUCCESS && wow32) {
        reg::mapTo32BitView(*path);
    }
    return status;
}

// What a read through a handle sees. In this order: the handle looked up, the
// caller's arguments (ERROR_INVALID_PARAMETER unless argumentsValid), the
// handle's access against `needed`; then the registry as the file holds it now
// and the key the handle names in it (null for a predefined root that does not
// exist yet). The key lives as long as the snapshot.
LSTATUS readKey(HKEY handle, bool argumentsValid, REGSAM needed, reg::Snapshot* snapshot,
                const reg::Key** key) {
    reg::KeyRef ref;
    LSTATUS status = reg::lookupHandle(handle, &ref);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (!argumentsValid) {
        return ERROR_INVALID_PARAMETER;
    }
    status = requireAccess(ref, needed);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    *snapshot = reg::readRegistry();
    if (snapshot->status != ERROR_SUCCESS) {
        return snapshot->status;
    }
    return reg::findKey(ref, *snapshot->hive, key);
}

std::string_view valueName(LPCSTR name) {
    return name == nullptr ? std::string_view() : std::string_view(name);
}

// A caller's byte buffer, as RegQueryValueExA and RegEnumValueA fill it: no
// size pointer asks for nothing; no buffer is a size query; a buffer too small
// is ERROR_MORE_DATA with the size needed, and nothing is written to it.
LSTATUS fillData(const reg::Bytes& data, LPBYTE buffer, LPDWORD size) {
    if (size == nullptr) {
        return ERROR_SUCCESS;
    }
    const auto needed = static_cast<DWORD>(data.size());  // values are capped far below 4 GiB
    if (buffer == nullptr) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed != 0) {
        std::memcpy(buffer, data.data(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
}

// A caller's name buffer: *count is its size in characters, NUL included, on
// input, and the name's length without the NUL on output. Too small is
// ERROR_MORE_DATA with the buffer and *count left alone.
LSTATUS fillName(const std::string& name, LPSTR buffer, LPDWORD count) {
    if (name.size() >= *count) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    *count = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// Where openKey and createKey begin: the result handle cleared, the handle and
// the path it names in the view asked for, and the registry as the file holds
// it now, in which the handle's key must still exist.
LSTATUS beginOpen(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult, reg::KeyRef* base,
                  reg::KeyPath* path, reg::Snapshot* snapshot) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    LSTATUS status = targetInView(hKey, lpSubKey, samDesired, base, path);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    *snapshot = reg::readRegistry();
    if (snapshot->status != ERROR_SUCCESS) {
        return snapshot->status;
    }
    return reg::checkAlive(*base, *snapshot->hive);
}

LSTATUS openKey(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult) {
    reg::KeyRef base;
    reg::KeyPath path;
    reg::Snapshot snapshot;
    const LSTATUS status =
        beginOpen(hKey, lpSubKey, samDesired, phkResult, &base, &path, &snapshot);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (snapshot.hive->find(path) == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = reg::addHandle(std::move(path), reg::grantedAccess(samDesired));
    return ERROR_SUCCESS;
}

LSTATUS createKey(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, PHKEY phkResult,
                  LPDWORD lpdwDisposition) {
    reg::KeyRef base;
    reg::KeyPath path;
    // Opening an existing key needs neither the lock nor a writable folder.
    reg::Snapshot snapshot;
    LSTATUS status = beginOpen(hKey, lpSubKey, samDesired, phkResult, &base, &path, &snapshot);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (snapshot.hive->find(path) == nullptr) {
        status = requireAccess(base, KEY_CREATE_SUB_KEY);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        status = reg::modifyRegistry(
            [&](reg::Hive& hive, bool& changed) -> LSTATUS {
                const LSTATUS alive = reg::checkAlive(base, hive);
                if (alive != ERROR_SUCCESS) {
                    return alive;
                }
                bool created = false;
                if (hive.create(path, &created) == nullptr) {
                    return ERROR_INVALID_PARAMETER;
                }
                changed = created;
                disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
                return ERROR_SUCCESS;
            },
            nullptr);
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    *phkResult = reg::addHandle(std::move(path), reg::grantedAccess(samDesired));
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = disposition;
    }
    return ERROR_SUCCESS;
}

LSTATUS queryValue(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                   LPDWORD lpcbData) {
    const bool argumentsValid = lpReserved == nullptr && (lpData == nullptr || lpcbData != nullptr);
    reg::Snapshot snapshot;
    const reg::Key* key = nullptr;
    LSTATUS status = readKey(hKey, argumentsValid, KEY_QUERY_VALUE, &snapshot, &key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const reg::Value* value = key != nullptr ? key->findValue(valueName(lpValueName)) : nullptr;
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType != nullptr) {
        *lpType = value->type;
    }
    return fillData(value->data, lpData, lpcbData);
}

LSTATUS setValue(HKEY hKey, LPCSTR lpValueName, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    reg::KeyRef ref;
    if (const LSTATUS status = lookupWithAccess(hKey, KEY_SET_VALUE, &ref);
        status != ERROR_SUCCESS) {
        return status;
    }
    const std::string_view name = valueName(lpValueName);
    if ((lpData == nullptr && cbData != 0) || cbData > reg::kMaxValueSize ||
        !reg::validValueName(name)) {
        return ERROR_INVALID_PARAMETER;
    }
    const reg::Bytes data(lpData, lpData + cbData);
    return reg::modifyRegistry(
        [&](reg::Hive& hive, bool& changed) -> LSTATUS {
            reg::Key* key = nullptr;
            const LSTATUS found = findKeyForChange(ref, hive, &key);
            if (found != ERROR_SUCCESS) {
                return found;
            }
            changed = key->setValue(name, dwType, data);
            return ERROR_SUCCESS;
        },
        nullptr);
}

LSTATUS deleteValue(HKEY hKey, LPCSTR lpValueName) {
    reg::KeyRef ref;
    if (const LSTATUS status = lookupWithAccess(hKey, KEY_SET_VALUE, &ref);
        status != ERROR_SUCCESS) {
        return status;
    }
    const std::string_view name = valueName(lpValueName);
    auto check = [&](const reg::Hive& hive) -> LSTATUS {
        const reg::Key* key = nullptr;
        const LSTATUS found = reg::findKey(ref, hive, &key);
        if (found != ERROR_SUCCESS) {
            return found;
        }
        return key != nullptr && key->findValue(name) != nullptr ? ERROR_SUCCESS
                                                                 : ERROR_FILE_NOT_FOUND;
    };
    // A missing value is reported without taking the write lock.
    const reg::Snapshot snapshot = reg::readRegistry();
    if (snapshot.status != ERROR_SUCCESS) {
        return snapshot.status;
    }
    if (const LSTATUS status = check(*snapshot.hive); status != ERROR_SUCCESS) {
        return status;
    }
    return reg::modifyRegistry(
        [&](reg::Hive& hive, bool& changed) -> LSTATUS {
            const LSTATUS found = check(hive);
            if (found == ERROR_SUCCESS) {
                changed = hive.find(ref.path)->deleteValue(name);
            }
            return found;
        },
        nullptr);
}

LSTATUS deleteKey(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    reg::KeyRef base;
    reg::KeyPath path;
    LSTATUS status = target(hKey, lpSubKey, &base, &path);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // An empty subkey deletes the handle's own key, which a root never is.
    if (path.size() <= 1 || (base.predefined && *lpSubKey == '\0')) {
        return ERROR_ACCESS_DENIED;
    }
    auto check = [&](const reg::Hive& hive) -> LSTATUS {
        const LSTATUS alive = reg::checkAlive(base, hive);
        if (alive != ERROR_SUCCESS) {
            return alive;
        }
        const reg::Key* key = hive.find(path);
        if (key == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        return key->childCount() == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    };
    const reg::Snapshot snapshot = reg::readRegistry();
    if (snapshot.status != ERROR_SUCCESS) {
        return snapshot.status;
    }
    status = check(*snapshot.hive);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = reg::modifyRegistry(
        [&](reg::Hive& hive, bool& changed) -> LSTATUS {
            const LSTATUS checked = check(hive);
            if (checked == ERROR_SUCCESS) {
                changed = hive.remove(path);
            }
            return checked;
        },
        nullptr);
    if (status == ERROR_SUCCESS) {
        reg::markDeleted(path, true);
    }
    return status;
}

LSTATUS deleteTree(HKEY hKey, LPCSTR lpSubKey) {
    reg::KeyRef base;
    reg::KeyPath path;
    LSTATUS status = target(hKey, lpSubKey, &base, &path);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Without a subkey the key itself stays and loses its values and subkeys.
    const bool emptyOnly = lpSubKey == nullptr || *lpSubKey == '\0';
    status = requireAccess(
        base, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | (emptyOnly ? KEY_SET_VALUE : 0));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    auto check = [&](const reg::Hive& hive) -> LSTATUS {
        const LSTATUS alive = reg::checkAlive(base, hive);
        if (alive != ERROR_SUCCESS || emptyOnly) {
            return alive;
        }
        return hive.find(path) != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    };
    const reg::Snapshot snapshot = reg::readRegistry();
    if (snapshot.status != ERROR_SUCCESS) {
        return snapshot.status;
    }
    status = check(*snapshot.hive);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const reg::Key* current = snapshot.hive->find(path);
    if (emptyOnly &&
        (current == nullptr || (current->values().empty() && current->childCount() == 0))) {
        return ERROR_SUCCESS;
    }
    status = reg::modifyRegistry(
        [&](reg::Hive& hive, bool& changed) -> LSTATUS {
            const LSTATUS checked = check(hive);
            if (checked != ERROR_SUCCESS) {
                return checked;
            }
            if (!emptyOnly) {
                changed = hive.remove(path);
            } else if (reg::Key* key = hive.find(path)) {
                const bool hadValues = key->clearValues();
                const bool hadKeys = key->clearChildren();
                changed = hadValues || hadKeys;
            }
            return ERROR_SUCCESS;
        },
        nullptr);
    if (status == ERROR_SUCCESS) {
        reg::markDeleted(path, !emptyOnly);
    }
    return status;
}

LSTATUS enumKey(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    const bool argumentsValid = lpName != nullptr && lpcchName != nullptr &&
                                lpReserved == nullptr &&
                                (lpClass == nullptr || lpcchClass != nullptr);
    reg::Snapshot snapshot;
    const reg::Key* key = nullptr;
    LSTATUS status = readKey(hKey, argumentsValid, KEY_ENUMERATE_SUB_KEYS, &snapshot, &key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (key == nullptr || dwIndex >= key->childCount()) {
        return ERROR_NO_MORE_ITEMS;
    }
    status = fillName(key->childAt(dwIndex).name(), lpName, lpcchName);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Keys have no class here, and no write time is kept.
    if (lpcchClass != nullptr) {
        if (lpClass != nullptr) {
            if (*lpcchClass == 0) {
                return ERROR_MORE_DATA;
            }
            lpClass[0] = '\0';
        }
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime != nullptr) {
        *lpftLastWriteTime = FILETIME{0, 0};
    }
    return ERROR_SUCCESS;
}

LSTATUS enumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                  LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    const bool argumentsValid = lpValueName != nullptr && lpcchValueName != nullptr &&
                                lpReserved == nullptr && (lpData == nullptr || lpcbData != nullptr);
    reg::Snapshot snapshot;
    const reg::Key* key = nullptr;
    LSTATUS status = readKey(hKey, argumentsValid, KEY_QUERY_VALUE, &snapshot, &key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (key == nullptr || dwIndex >= key->values().size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const reg::Value& value = key->values()[dwIndex];
    status = fillName(value.name, lpValueName, lpcchValueName);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (lpType != nullptr) {
        *lpType = value.type;
    }
    return fillData(value.data, lpData, lpcbData);
}

}  // namespace

// Reg* functions report through their result and leave the last error alone.

ORVA_API_ENTRY LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/,
                                     REGSAM samDesired, PHKEY phkResult) {
    return reg::guarded(
        [&]() -> LSTATUS { return openKey(hKey, lpSubKey, samDesired, phkResult); });
}

ORVA_API_ENTRY LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/,
                                       LPSTR /*lpClass*/, DWORD /*dwOptions*/, REGSAM samDesired,
                                       const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/,
                                       PHKEY phkResult, LPDWORD lpdwDisposition) {
    return reg::guarded([&]() -> LSTATUS {
        return createKey(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
    });
}

ORVA_API_ENTRY LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                        LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return reg::guarded([&]() -> LSTATUS {
        return queryValue(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    });
}

ORVA_API_ENTRY LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/,
                                      DWORD dwType, const BYTE* lpData, DWORD cbData) {
    return reg::guarded(
        [&]() -> LSTATUS { return setValue(hKey, lpValueName, dwType, lpData, cbData); });
}

ORVA_API_ENTRY LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    return reg::guarded([&]() -> LSTATUS { return deleteValue(hKey, lpValueName); });
}

ORVA_API_ENTRY LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    return reg::guarded([&]() -> LSTATUS { return deleteKey(hKey, lpSubKey); });
}

ORVA_API_ENTRY LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    return reg::guarded([&]() -> LSTATUS { return deleteTree(hKey, lpSubKey); });
}

ORVA_API_ENTRY LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                     LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                     PFILETIME lpftLastWriteTime) {
    return reg::guarded([&]() -> LSTATUS {
        return enumKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                       lpftLastWriteTime);
    });
}

ORVA_API_ENTRY LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                     LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                     LPBYTE lpData, LPDWORD lpcbData) {
    return reg::guarded([&]() -> LSTATUS {
        return enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                         lpcbData);
    });
}

ORVA_API_ENTRY LSTATUS RegCloseKey(HKEY hKey) {
    return reg::guarded([&]() -> LSTATUS { return reg::closeHandle(hKey); });
}
