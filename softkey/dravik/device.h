#pragma once

// Dravik's handles: reader contexts and open devices live in tables of live
// objects, and callers get opaque numbers for them, never addresses. An unknown
// or released number finds nothing.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "secure_bytes.h"

namespace orva::dravik {

using softkey::Bytes;

// A reader context: the keys NDGetSlotList last saw, slot id i = slots[i - 1].
struct Context {
    std::vector<std::string> slots;
};

// The transaction QZAsymSign operation 3 prepared for operation 5.
struct Prepared {
    Bytes transaction;
    std::uint32_t form = 0;
};

// An open key. Its content is re-read from the store on every call; what lives
// here is the session's own state.
struct Device {
    std::string serial;
    bool inTransaction = false;
    bool authenticated = false;
    bool pinVerified = false;          // the PIN cache
    std::optional<Prepared> prepared;  // op 3 waiting for op 5
    std::uint32_t cursor = 0;          // the container index the walk returned last

    // What QZClearPINCache and a re-initialisation forget.
    void forget() noexcept {
        pinVerified = false;
        prepared.reset();
    }
};

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

  private:
    // Numbers are never reused, so a stale handle cannot reach a newer object.
    static constexpr std::uintptr_t kStep = 0x10;
    mutable std::mutex mutex_;
    std::map<std::uintptr_t, std::unique_ptr<T>> objects_;
    std::uintptr_t next_;
};

HandleTable<Context>& contexts();
HandleTable<Device>& devices();

}  // namespace orva::dravik
