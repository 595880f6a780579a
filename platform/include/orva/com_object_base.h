#pragma once

// The reference counting and interface query of a COM object that offers
// one interface (with IUnknown and the other bases the caller names), shared
// by the platform's objects and our servers' helpers.

#include <atomic>
#include <new>
#include <utility>

#include "orva/com_ptr.h"
#include "win32/com.h"

namespace orva {

// A COM object's reference count over Base (one interface, or a struct of
// several): deleted at its last Release. The count starts at 0, so the
// maker's first query takes the first reference.
template <class Base>
class CountedObject : public Base {
  public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  protected:
    CountedObject() = default;
    virtual ~CountedObject() = default;

  private:
    std::atomic<ULONG> refs_{0};
};

// One interface (with IUnknown and the other bases the caller names).
template <class Interface, const IID&... Offered>
class RefCountedObject : public CountedObject<Interface> {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid != IID_IUnknown && !((riid == Offered) || ...)) {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        *ppvObject = static_cast<Interface*>(this);
        this->AddRef();
        return S_OK;
    }
};

// A new object of T handed out as riid: the query takes the reference, and a
// refused query frees the object.
template <class T, class... Args>
HRESULT createObject(REFIID riid, void** ppvObject, Args&&... args) noexcept {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    const ComPtr<T> held = ComPtr<T>::share(object);
    return held->QueryInterface(riid, ppvObject);
}

}  // namespace orva
