#pragma once

// Handles the provider gives out: ids drawn once, never addresses, each
// naming an object the table owns. A call holds its object for its whole
// run, so freeing the handle meanwhile only ends the object after the call.

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace orva::ksp {

// An object held for one call: kept alive, and locked against the other
// calls on the same object, until the holder goes.
template <typename T>
class Held {
  public:
    Held() = default;
    explicit Held(std::shared_ptr<T> object)
        : object_(std::move(object)),
          lock_(object_ ? std::unique_lock(object_->mutex) : std::unique_lock<std::mutex>()) {}

    explicit operator bool() const noexcept { return object_ != nullptr; }
    T* operator->() const noexcept { return object_.get(); }
    T& operator*() const noexcept { return *object_; }

  private:
    // Declared first, so the lock is let go before the object may end.
    std::shared_ptr<T> object_;
    std::unique_lock<std::mutex> lock_;
};

// Live objects of one kind by handle. A handle is the kind's tag in the top
// byte over a serial number that only grows, so a freed handle, a handle of
// the other kind or a made-up value never names a live object.
template <typename T>
class HandleTable {
  public:
    explicit HandleTable(std::uint8_t tag) noexcept : tag_(std::uint64_t{tag} << kSerialBits) {}
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // The object's new handle, or 0 once every serial number has been used.
    [[nodiscard]] std::uint64_t add(std::unique_ptr<T> object) {
        std::shared_ptr<T> shared(std::move(object));
        const std::lock_guard lock(mutex_);
        if (next_ > kLastSerial) {
            return 0;
        }
        const std::uint64_t handle = tag_ | next_;
        objects_.emplace(handle, std::move(shared));
        ++next_;
        return handle;
    }

    [[nodiscard]] bool contains(std::uint64_t handle) const {
        const std::lock_guard lock(mutex_);
        return objects_.count(handle) != 0;
    }

    [[nodiscard]] Held<T> hold(std::uint64_t handle) const {
        std::shared_ptr<T> object;
        {
            const std::lock_guard lock(mutex_);
            const auto it = objects_.find(handle);
            if (it == objects_.end()) {
                return {};
            }
            object = it->second;
        }
        // Locked outside the table's lock: a long call on one object does
        // not hold up the others.
        return Held<T>(std::move(object));
    }

    // False when the handle named nothing live. The object ends with the
    // last call still holding it.
    [[nodiscard]] bool remove(std::uint64_t handle) {
        // Outlives the lock: an object that ends here ends outside it.
        std::shared_ptr<T> object;
        const std::lock_guard lock(mutex_);
        const auto it = objects_.find(handle);
        if (it == objects_.end()) {
            return false;
        }
        object = std::move(it->second);
        objects_.erase(it);
        return true;
    }

  private:
    static constexpr unsigned kSerialBits = 56;
    static constexpr std::uint64_t kLastSerial = (std::uint64_t{1} << kSerialBits) - 1;

    const std::uint64_t tag_;
    mutable std::mutex mutex_;
    std::uint64_t next_ = 1;
    std::unordered_map<std::uint64_t, std::shared_ptr<T>> objects_;
};

}  // namespace orva::ksp
