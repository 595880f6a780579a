#pragma once

// Objects of a server class T, plain or aggregated, and T's class factory.
// T lists the interfaces it offers in T::kInterfaces, all served by one
// vtable whose primary interface is T::Primary; T's IUnknown operations are
// left to the wrappers here. Every live object, the class factory too, holds a
// module lock: a client may keep any of them after its last object is gone,
// and the module must not be unloaded under it.

#include "com_module.h"
#include "orva/com_object_base.h"
#include "win32/com.h"

namespace orva::com {

template <class T>
bool offersInterface(REFIID riid) noexcept {
    if (riid == IID_IUnknown) {
        return true;
    }
    for (const IID* offered : T::kInterfaces) {
        if (riid == *offered) {
            return true;
        }
    }
    return false;
}

// An object on its own.
template <class T>
class ComObject final : public CountedObject<T> {
  public:
    ComObject() noexcept { comModule().lock(); }
    ~ComObject() override { comModule().unlock(); }

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (!offersInterface<T>(riid)) {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        *ppvObject = static_cast<typename T::Primary*>(this);
        this->AddRef();
        return S_OK;
    }
};

// The part of an aggregated object that the outer object's clients see: its
// IUnknown operations are the outer object's.
template <class T>
class ContainedObject final : public T {
  public:
    explicit ContainedObject(IUnknown* outer) noexcept : outer_(outer) {}

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        return outer_->QueryInterface(riid, ppvObject);
    }
    ULONG AddRef() override { return outer_->AddRef(); }
    ULONG Release() override { return outer_->Release(); }

  private:
    IUnknown* outer_;
};

// An aggregated object's own IUnknown, which only the outer object holds.
template <class T>
class AggregatedObject final : public CountedObject<IUnknown> {
  public:
    explicit AggregatedObject(IUnknown* outer) noexcept : contained_(outer) { comModule().lock(); }
    ~AggregatedObject() override { comModule().unlock(); }

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown) {
            *ppvObject = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (!offersInterface<T>(riid)) {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        *ppvObject = static_cast<typename T::Primary*>(&contained_);
        contained_.AddRef();
        return S_OK;
    }

  private:
    ContainedObject<T> contained_;
};

// Makes objects of T; aggregation only for IUnknown, as COM requires.
template <class T>
class ClassFactory final : public RefCountedObject<IClassFactory, IID_IClassFactory> {
  public:
    ClassFactory() noexcept { comModule().lock(); }
    ~ClassFactory() override { comModule().unlock(); }

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (pUnkOuter == nullptr) {
            return createObject<ComObject<T>>(riid, ppvObject);
        }
        if (riid != IID_IUnknown) {
            return CLASS_E_NOAGGREGATION;
        }
        return createObject<AggregatedObject<T>>(riid, ppvObject, pUnkOuter);
    }
    HRESULT LockServer(BOOL fLock) override {
        if (fLock) {
            comModule().lock();
        } else {
            comModule().unlock();
        }
        return S_OK;
    }
};

// DllGetClassObject for a server of one class.
template <class T>
HRESULT classObject(REFCLSID rclsid, REFCLSID served, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (rclsid != served) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return createObject<ClassFactory<T>>(riid, ppv);
}

}  // namespace orva::com
