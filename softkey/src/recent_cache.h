#pragma once

// A few values this process worked out lately, by key, for work that costs more
// than a look-up: the least recently used entry goes when the cache is full.
// Meant for objects of static storage: the cache lives from its first use until
// its module is unloaded or the process exits, and a look-up after that (from
// another object's destructor) finds nothing and keeps nothing. Thread-safe;
// values are handed out as copies, so make them cheap to copy (a shared_ptr).

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace orva::softkey {

template <typename Key, typename Value>
class RecentCache {
  public:
    constexpr explicit RecentCache(std::size_t capacity) noexcept : capacity_(capacity) {}
    // Only trivially destructible members outlive this: the mutex and the flag.
    ~RecentCache() {
        const std::lock_guard lock(mutex_);
        delete entries_;
        entries_ = nullptr;
        released_ = true;
    }
    RecentCache(const RecentCache&) = delete;
    RecentCache& operator=(const RecentCache&) = delete;

    std::optional<Value> find(const Key& key) {
        const std::lock_guard lock(mutex_);
        Entry* entry = entryOf(key);
        if (entry == nullptr) {
            return std::nullopt;
        }
        entry->lastUse = ++clock_;
        return entry->value;
    }

    void remember(Key key, Value value) {
        const std::lock_guard lock(mutex_);
        if (released_) {
            return;
        }
        if (entries_ == nullptr) {
            entries_ = new std::vector<Entry>;
        }
        Entry* entry = entryOf(key);
        if (entry == nullptr) {
            if (entries_->size() >= capacity_) {
                auto oldest = entries_->begin();
                for (auto it = entries_->begin(); it != entries_->end(); ++it) {
                    if (it->lastUse < oldest->lastUse) {
                        oldest = it;
                    }
                }
                entries_->erase(oldest);
            }
            entry = &entries_->emplace_back(Entry{std::move(key), std::move(value), 0});
        } else {
            entry->value = std::move(value);
        }
        entry->lastUse = ++clock_;
    }

    void forget(const Key& key) {
        const std::lock_guard lock(mutex_);
        if (entries_ != nullptr) {
            std::erase_if(*entries_, [&](const Entry& entry) { return entry.key == key; });
        }
    }

  private:
    struct Entry {
        Key key;
        Value value;
        std::uint64_t lastUse;
    };

    Entry* entryOf(const Key& key) {
        if (entries_ != nullptr) {
            for (Entry& entry : *entries_) {
                if (entry.key == key) {
                    return &entry;
                }
            }
        }
        return nullptr;
    }

    std::mutex mutex_;
    std::vector<Entry>* entries_ = nullptr;
    bool released_ = false;
    std::size_t capacity_;
    std::uint64_t clock_ = 0;
};

}  // namespace orva::softkey
