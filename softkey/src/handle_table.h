#pragma once

// Handles the maker's libraries give their callers: opaque numbers for objects
// kept in a table of live objects, never addresses. An unknown or released
// number finds nothing.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace orva::softkey {

template <typename T>
class HandleTable {
  public:
    explicit HandleTable(std::uintptr_t base) : next_(base) {}

    void* add(std::unique_ptr<T> object) {
        const std::lock_guard<std::mutex> lock(mutex_);
        next_ += kStep;
        objects_.emplace(next_, std::move(object));
        return reinterpret_cast<void*>(next_);
    }

    // The live object, or null; the handle itself is never dereferenced.
    T* find(void* handle) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        return it == objects_.end() ? nullptr : it->second.get();
    }

    bool remove(void* handle) {
        const std::lock_guard<std::mutex> lock(mutex_);
        return objects_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
    }

    // Takes the object out of the table; null for an unknown handle.
    std::unique_ptr<T> take(void* handle) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == objects_.end()) {
            return nullptr;
        }
        std::unique_ptr<T> object = std::move(it->second);
        objects_.erase(it);
        return object;
    }

  private:
    // Numbers are never reused, so a stale handle cannot reach a newer object.
    static constexpr std::uintptr_t kStep = 0x10;
    mutable std::mutex mutex_;
    std::map<std::uintptr_t, std::unique_ptr<T>> objects_;
    std::uintptr_t next_;
};

}  // namespace orva::softkey
