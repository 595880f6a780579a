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
#include "com_guard.h"
#include "orva/com_object_base.h"
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

class CategoriesManager final : public RefCountedObject<ICatRegister, IID_ICatRegister> {
  public:
    HRESULT RegisterCategories(ULONG cCategories, CATEGORYINFO* rgCategoryInfo) override {
        if (cCategories > 0 && rgCategoryInfo == nullptr) {
            return E_POINTER;
        }
        return guardedCall([&] {
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
        return guardedCall([&] {
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
    static std::string listPath(REFCLSID clsid, const char* list) {
        return "CLSID\\" + guidText(clsid) + "\\" + list;
    }

    static HRESULT addMembership(REFCLSID clsid, const char* list, ULONG count, CATID* catids) {
        if (count > 0 && catids == nullptr) {
            return E_POINTER;
        }
        return guardedCall([&] {
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
        return guardedCall([&] {
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
    return createObject<CategoriesManager>(riid, object);
}

}  // namespace orva::platform::com

namespace orva::platform {

void failCategoriesManager(bool fail) noexcept {
    com::managerRefused = fail;
}

}  // namespace orva::platform
