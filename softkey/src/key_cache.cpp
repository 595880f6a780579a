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
    std::mutex mutex;
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

Cache& cache() {
    // Never destroyed: key calls from other modules' static destructors still work.
    static Cache* instance = new Cache;
    return *instance;
}

}  // namespace

std::optional<ParsedKey> cachedKey(const std::string& path, const FileVersion& version) {
    Cache& c = cache();
    const std::lock_guard lock(c.mutex);
    Entry* entry = c.find(path);
    if (entry == nullptr || !(entry->version == version)) {
        return std::nullopt;
    }
    entry->lastUse = ++c.clock;
    return entry->key;
}

void rememberKey(const std::string& path, const FileVersion& version, FileDescriptor file,
                 ParsedKey key) {
    Cache& c = cache();
    const std::lock_guard lock(c.mutex);
    Entry* entry = c.find(path);
    if (entry == nullptr) {
        if (c.entries.size() >= kMaxEntries) {
            auto oldest = c.entries.begin();
            for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
                if (it->lastUse < oldest->lastUse) {
                    oldest = it;
                }
            }
            c.entries.erase(oldest);
        }
        entry = &c.entries.emplace_back();
        entry->path = path;
    }
    entry->version = version;
    entry->file = std::move(file);
    entry->key = std::move(key);
    entry->lastUse = ++c.clock;
}

void forgetKey(const std::string& path) {
    Cache& c = cache();
    const std::lock_guard lock(c.mutex);
    std::erase_if(c.entries, [&](const Entry& entry) { return entry.path == path; });
}

}  // namespace orva::softkey
