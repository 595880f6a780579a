#include "registry_handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace orva::platform::registry {

namespace {

struct Entry {
    KeyPath path;
    REGSAM access = 0;
    bool deleted = false;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, Entry> entries;
    // Handle values count up from above the predefined roots' 32-bit values
    // and are never reused, so a stale handle cannot reach a newer key.
    std::uintptr_t next = std::uintptr_t{1} << 32;
};

Table& table() {
    static Table* instance = new Table;  // never destroyed, like the handles it hands out
    return *instance;
}

std::uintptr_t valueOf(HKEY key) noexcept {
    return reinterpret_cast<std::uintptr_t>(key);
}

}  // namespace

LSTATUS lookupHandle(HKEY key, KeyRef* ref) {
    if (std::optional<KeyPath> root = predefinedPath(key)) {
        ref->path = std::move(*root);
        ref->access = ~REGSAM{0};
        ref->predefined = true;
        ref->deleted = false;
        return ERROR_SUCCESS;
    }
    Table& handles = table();
    std::lock_guard lock(handles.mutex);
    auto it = handles.entries.find(valueOf(key));
    if (it == handles.entries.end()) {
        return ERROR_INVALID_HANDLE;
    }
    ref->path = it->second.path;
    ref->access = it->second.access;
    ref->predefined = false;
    ref->deleted = it->second.deleted;
    return ERROR_SUCCESS;
}

HKEY addHandle(KeyPath path, REGSAM access) {
    Table& handles = table();
    std::lock_guard lock(handles.mutex);
    const std::uintptr_t value = handles.next;
    handles.entries.emplace(value, Entry{std::move(path), access, false});
    handles.next += 16;
    return reinterpret_cast<HKEY>(value);
}

LSTATUS closeHandle(HKEY key) {
    if (predefinedPath(key)) {
        return ERROR_SUCCESS;
    }
    Table& handles = table();
    std::lock_guard lock(handles.mutex);
    return handles.entries.erase(valueOf(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void markDeleted(const KeyPath& path, bool includeSelf) {
    Table& handles = table();
    std::lock_guard lock(handles.mutex);
    for (auto& [value, entry] : handles.entries) {
        if (isWithin(entry.path, path) && (includeSelf || entry.path.size() > path.size())) {
            entry.deleted = true;
        }
    }
}

}  // namespace orva::platform::registry
