#pragma once

// The reference counting and interface query of a COM object that offers
// one interface (with IUnknown and the other bases the caller names), shared
// by the platform's objects and our servers' helpers.

#include <atomic>
#include <new>
#include <utility>

#include "win32/com.h"

namespace orva {

// Deleted at its last Release; the count starts at 0, so the maker's first
// query takes the first reference.
template <class Interface, const IID&... Offered>
class RefCountedObject : public Interface {
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
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  protected:
    RefCountedObject() = default;
    virtual ~RefCountedObject() = default;

  private:
    std::atomic<ULONG> refs_{0};
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
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppvObject);
    object->Release();
    return hr;
}

}  // namespace orva
