// Registration of the control: its classes and type library through the
// registry script, then its safety categories.

#include "registration.h"

#include <algorithm>
#include <utility>

#include "orva/com_ptr.h"
#include "orva/com_registration.h"
#include "usbkey_interface.h"

namespace orva::control {

const std::string_view kRegistryScript = R"(HKCR
{
	Orva_usbkey_ctrl.orva_usbkey.1 = s 'orva_usbkey Class'
	{
		CLSID = s '{F0682987-A368-4235-8021-460CD7F2A630}'
	}
	Orva_usbkey_ctrl.orva_usbkey = s 'orva_usbkey Class'
	{
		CLSID = s '{F0682987-A368-4235-8021-460CD7F2A630}'
	}
	NoRemove CLSID
	{
		ForceRemove {F0682987-A368-4235-8021-460CD7F2A630} = s 'orva_usbkey Class'
		{
			ProgID = s 'Orva_usbkey_ctrl.orva_usbkey.1'
			VersionIndependentProgID = s 'Orva_usbkey_ctrl.orva_usbkey'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'both'
			}
		}
	}
}
)";

namespace {

inline constexpr CATID CATID_SafeForInitializing{
    0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
inline constexpr CATID CATID_SafeForScripting{
    0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
constexpr LCID kEnglishLocale = 0x409;

// The manager for one call; null with the failure in *hr.
ComPtr<ICatRegister> categoriesManager(HRESULT* hr) {
    ComPtr<ICatRegister> manager;
    *hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                           IID_ICatRegister, manager.putVoid());
    return SUCCEEDED(*hr) ? std::move(manager) : ComPtr<ICatRegister>();
}

HRESULT createCategory(const CATID& catid, std::u16string_view description) {
    HRESULT hr = S_OK;
    const ComPtr<ICatRegister> manager = categoriesManager(&hr);
    if (!manager) {
        return hr;
    }
    CATEGORYINFO info{};
    info.catid = catid;
    info.lcid = kEnglishLocale;
    // At most 127 characters and the NUL.
    const std::size_t length = std::min<std::size_t>(description.size(), 127);
    std::copy_n(description.begin(), length, info.szDescription);
    return manager->RegisterCategories(1, &info);
}

HRESULT classInCategory(const CLSID& clsid, CATID catid, bool registering) {
    HRESULT hr = S_OK;
    const ComPtr<ICatRegister> manager = categoriesManager(&hr);
    if (!manager) {
        return hr;
    }
    return registering ? manager->RegisterClassImplCategories(clsid, 1, &catid)
                       : manager->UnRegisterClassImplCategories(clsid, 1, &catid);
}

}  // namespace

HRESULT registerServer(const char* modulePath) noexcept {
    HRESULT hr = platform::runRegistryScript(kRegistryScript, modulePath, true);
    if (SUCCEEDED(hr)) {
        hr = platform::registerTypeLibrary(kTypeLibrary, modulePath);
    }
    if (SUCCEEDED(hr)) {
        hr = createCategory(CATID_SafeForInitializing,
                            u"Controls safely initializable from persistent data!");
    }
    if (SUCCEEDED(hr)) {
        hr = classInCategory(CLSID_orva_usbkey, CATID_SafeForInitializing, true);
    }
    if (SUCCEEDED(hr)) {
        hr = createCategory(CATID_SafeForScripting, u"Controls safely scriptable!");
    }
    if (SUCCEEDED(hr)) {
        hr = classInCategory(CLSID_orva_usbkey, CATID_SafeForScripting, true);
    }
    return FAILED(hr) ? hr : S_OK;
}

HRESULT unregisterServer() noexcept {
    HRESULT hr = platform::runRegistryScript(kRegistryScript, "", false);
    if (SUCCEEDED(hr)) {
        hr = platform::unregisterTypeLibrary(kTypeLibrary);
    }
    // The categories themselves stay: other controls may be listed in them.
    if (SUCCEEDED(hr)) {
        hr = classInCategory(CLSID_orva_usbkey, CATID_SafeForInitializing, false);
    }
    if (SUCCEEDED(hr)) {
        hr = classInCategory(CLSID_orva_usbkey, CATID_SafeForScripting, false);
    }
    return FAILED(hr) ? hr : S_OK;
}

}  // namespace orva::control
