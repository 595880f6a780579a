#include "key_cache.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace orva::softkey {

namespace {

// A process uses a few keys; test programs make many stores, and each entry
// holds a descriptor.
constexpr std::size_t kMaxEntries = 16;

struct Entry {
    std::string path;
    FileVersion version;
    FileDescriptor file;
    ParsedKey key;
    std::uint64_t lastUse = 0;
};

struct Cache {
    std::vector<Entry> entries;
    std::uint64_t clock = 0;

    Entry* find(const std::string& path) {
        for (Entry& entry : entries) {
            if (entry.path == path) {
                return &entry;
            }
        }
        return nullptr;
    }
};

// The cache lives from its first use until the module is unloaded or the
// process exits; a key read after that (from another module's destructor) is
// parsed afresh. The mutex and the flag need no destruction.
std::mutex gMutex;
Cache* gCache = nullptr;
bool gReleased = false;

struct Release {
    ~Release() {
        const std::lock_guard lock(gMutex);
        delete gCache;
        gCache = nullptr;
        gReleased = true;
    }
} gRelease;

// The cache, with gMutex held; null once released.
Cache* cache() {
    if (gCache == nullptr && !gReleased) {
        gCache = new Cache;
    }
    return gCache;
}

}  // namespace

std::optional<ParsedKey> cachedKey(const std::string& path, const FileVersion& version) {
    const std::lock_guard lock(gMutex);
    Cache* c = cache();
    Entry* entry = c == nullptr ? nullptr : c->find(path);
    if (entry == nullptr || !(entry->version == version)) {
        return std::nullopt;
    }
    entry->lastUse = ++c->clock;
    return entry->key;
}

void rememberKey(const std::string& path, const FileVersion& version, FileDescriptor file,
                 ParsedKey key) {
    const std::lock_guard lock(gMutex);
    Cache* c = cache();
    if (c == nullptr) {
        return;
    }
    Entry* entry = c->find(path);
    if (entry == nullptr) {
        if (c->entries.size() >= kMaxEntries) {
            auto oldest = c->entries.begin();
            for (auto it = c->entries.begin(); it != c->entries.end(); ++it) {
                if (it->lastUse < oldest->lastUse) {
                    oldest = it;
                }
            }
            c->entries.erase(oldest);
        }
        entry = &c->entries.emplace_back();
        entry->path = path;
    }
    entry->version = version;
    entry->file = std::move(file);
    entry->key = std::move(key);
    entry->lastUse = ++c->clock;
}

void forgetKey(const std::string& path) {
    const std::lock_guard lock(gMutex);
    if (Cache* c = cache()) {
        std::erase_if(c->entries, [&](const Entry& entry) { return entry.path == path; });
    }
}

}  // namespace orva::softkey
