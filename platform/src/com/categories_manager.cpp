// Component categories over the registry: HKCR\Component Categories\{CATID}
// holds each category's descriptions by locale (hex, "409"), and a class's
// membership is a key under HKCR\CLSID\{CLSID}\Implemented Categories (or
// Required Categories).

#include "categories_manager.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <new>
#include <string>

#include "class_registry.h"
#include "orva/com_registration.h"

namespace orva::platform::com {

namespace {

std::atomic<bool> managerRefused{false};

constexpr const char* kCategoriesRoot = "Component Categories\\";
constexpr const char* kImplemented = "Implemented Categories";
constexpr const char* kRequired = "Required Categories";

std::string localeName(LCID lcid) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(lcid));
    return text;
}

template <class Body>
HRESULT guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

class CategoriesManager final : public ICatRegister {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid != IID_IUnknown && riid != IID_ICatRegister) {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        *ppvObject = static_cast<ICatRegister*>(this);
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

    HRESULT RegisterCategories(ULONG cCategories, CATEGORYINFO* rgCategoryInfo) override {
        if (cCategories > 0 && rgCategoryInfo == nullptr) {
            return E_POINTER;
        }
        return guarded([&] {
            for (ULONG i = 0; i < cCategories; ++i) {
                const CATEGORYINFO& info = rgCategoryInfo[i];
                // The description is cut at its 128th unit, whatever the caller left there.
                OLECHAR description[128];
                std::copy(std::begin(info.szDescription), std::end(info.szDescription),
                          description);
                description[127] = u'\0';
                RegistryKey key;
                HRESULT hr = createClassKey(kCategoriesRoot + guidText(info.catid), &key);
                if (SUCCEEDED(hr)) {
                    hr = setString(key, localeName(info.lcid).c_str(), narrowText(description));
                }
                if (FAILED(hr)) {
                    return hr;
                }
            }
            return S_OK;
        });
    }
    HRESULT UnRegisterCategories(ULONG cCategories, CATID* rgcatid) override {
        if (cCategories > 0 && rgcatid == nullptr) {
            return E_POINTER;
        }
        return guarded([&] {
            for (ULONG i = 0; i < cCategories; ++i) {
                const HRESULT hr = deleteClassTree(kCategoriesRoot + guidText(rgcatid[i]));
                if (FAILED(hr)) {
                    return hr;
                }
            }
            return S_OK;
        });
    }
    HRESULT RegisterClassImplCategories(REFCLSID rclsid, ULONG cCategories,
                                        CATID* rgcatid) override {
        return addMembership(rclsid, kImplemented, cCategories, rgcatid);
    }
    HRESULT UnRegisterClassImplCategories(REFCLSID rclsid, ULONG cCategories,
                                          CATID* rgcatid) override {
        return removeMembership(rclsid, kImplemented, cCategories, rgcatid);
    }
    HRESULT RegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories,
                                       CATID* rgcatid) override {
        return addMembership(rclsid, kRequired, cCategories, rgcatid);
    }
    HRESULT UnRegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories,
                                         CATID* rgcatid) override {
        return removeMembership(rclsid, kRequired, cCategories, rgcatid);
    }

  private:
    ~CategoriesManager() = default;

    static std::string listPath(REFCLSID clsid, const char* list) {
        return "CLSID\\" + guidText(clsid) + "\\" + list;
    }

    static HRESULT addMembership(REFCLSID clsid, const char* list, ULONG count, CATID* catids) {
        if (count > 0 && catids == nullptr) {
            return E_POINTER;
        }
        return guarded([&] {
            for (ULONG i = 0; i < count; ++i) {
                RegistryKey key;
                const HRESULT hr =
                    createClassKey(listPath(clsid, list) + "\\" + guidText(catids[i]), &key);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            return S_OK;
        });
    }

    // A class or list that is gone already leaves nothing to remove: S_OK.
    static HRESULT removeMembership(REFCLSID clsid, const char* list, ULONG count, CATID* catids) {
        if (count > 0 && catids == nullptr) {
            return E_POINTER;
        }
        return guarded([&] {
            const std::string path = listPath(clsid, list);
            for (ULONG i = 0; i < count; ++i) {
                const HRESULT hr = deleteClassTree(path + "\\" + guidText(catids[i]));
                if (FAILED(hr)) {
                    return hr;
                }
            }
            return deleteClassKeyIfEmpty(path);
        });
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT createCategoriesManager(IUnknown* outer, REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    if (managerRefused.load()) {
        return E_OUTOFMEMORY;
    }
    auto* manager = new (std::nothrow) CategoriesManager;
    if (manager == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = manager->QueryInterface(riid, object);
    manager->Release();
    return hr;
}

}  // namespace orva::platform::com

namespace orva::platform {

void failCategoriesManager(bool fail) noexcept {
    com::managerRefused = fail;
}

}  // namespace orva::platform
