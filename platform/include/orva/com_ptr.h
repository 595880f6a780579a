#pragma once

// An owned reference to a COM interface: released when the owner goes, so
// every path out of a caller lets go of what it was handed.

#include <utility>

namespace orva {

// One reference to a T (any interface with AddRef and Release). Move-only: a
// second reference is taken only where the code says so (share).
template <class T>
class ComPtr {
  public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller already holds.
    explicit ComPtr(T* owned) noexcept : object_(owned) {}
    // Takes a reference of its own to object (null stays null).
    static ComPtr share(T* object) noexcept {
        if (object != nullptr) {
            object->AddRef();
        }
        return ComPtr(object);
    }

    ComPtr(ComPtr&& other) noexcept : object_(other.detach()) {}
    // The old reference goes only after the new one is in place.
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // The out-parameter of a call that hands over a reference; the one held
    // before is released first.
    T** put() noexcept {
        reset();
        return &object_;
    }
    // The same, for calls that take the interface as void** (queries, creation).
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    // The reference, handed to the caller, who releases it.
    T* detach() noexcept { return std::exchange(object_, nullptr); }
    void reset() noexcept {
        if (T* object = detach()) {
            object->Release();
        }
    }
    void swap(ComPtr& other) noexcept { std::swap(object_, other.object_); }

  private:
    T* object_ = nullptr;
};

}  // namespace orva
