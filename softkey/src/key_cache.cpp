#include "key_cache.h"

#include <utility>

#include "recent_cache.h"

namespace orva::softkey {

namespace {

struct CachedKey {
    FileVersion version;
    FileDescriptor file;
    Token token;
};

// A process uses a few keys; test programs make many stores, and each entry
// holds a descriptor.
constexpr std::size_t kMaxEntries = 16;
constinit RecentCache<std::string, std::shared_ptr<const CachedKey>> gKeys(kMaxEntries);

}  // namespace

std::shared_ptr<const Token> cachedKey(const std::string& path, const FileVersion& version) {
    const auto entry = gKeys.find(path);
    if (!entry || !((*entry)->version == version)) {
        return nullptr;
    }
    // Shares the entry: its file stays open while the key is in use.
    return std::shared_ptr<const Token>(*entry, &(*entry)->token);
}

std::shared_ptr<const Token> rememberKey(const std::string& path, const FileVersion& version,
                                         FileDescriptor file, Token key) {
    auto entry =
        std::make_shared<const CachedKey>(CachedKey{version, std::move(file), std::move(key)});
    gKeys.remember(path, entry);
    return std::shared_ptr<const Token>(entry, &entry->token);
}

void forgetKey(const std::string& path) {
    gKeys.forget(path);
}

}  // namespace orva::softkey
