// Error information objects and the thread's slot that holds one.

#include <string>

#include "orva/com_object_base.h"
#include "orva/com_ptr.h"
#include "win32/com.h"

namespace {

BSTR copyText(const std::u16string& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

std::u16string textOf(LPOLESTR text) {
    return text != nullptr ? std::u16string(text) : std::u16string();
}

// The two interfaces of an error object, on one count.
struct ErrorInfoInterfaces : ICreateErrorInfo, IErrorInfo {};

class ErrorInfo final : public orva::CountedObject<ErrorInfoInterfaces> {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_ICreateErrorInfo) {
            *ppvObject = static_cast<ICreateErrorInfo*>(this);
        } else if (riid == IID_IErrorInfo) {
            *ppvObject = static_cast<IErrorInfo*>(this);
        } else {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    HRESULT SetGUID(REFGUID rguid) override {
        guid_ = rguid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR szSource) override { return store(source_, szSource); }
    HRESULT SetDescription(LPOLESTR szDescription) override {
        return store(description_, szDescription);
    }
    HRESULT SetHelpFile(LPOLESTR szHelpFile) override { return store(helpFile_, szHelpFile); }
    HRESULT SetHelpContext(DWORD dwHelpContext) override {
        helpContext_ = dwHelpContext;
        return S_OK;
    }

    HRESULT GetGUID(GUID* pGUID) override {
        if (pGUID == nullptr) {
            return E_INVALIDARG;
        }
        *pGUID = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* pBstrSource) override { return hand(source_, pBstrSource); }
    HRESULT GetDescription(BSTR* pBstrDescription) override {
        return hand(description_, pBstrDescription);
    }
    HRESULT GetHelpFile(BSTR* pBstrHelpFile) override { return hand(helpFile_, pBstrHelpFile); }
    HRESULT GetHelpContext(DWORD* pdwHelpContext) override {
        if (pdwHelpContext == nullptr) {
            return E_INVALIDARG;
        }
        *pdwHelpContext = helpContext_;
        return S_OK;
    }

  private:
    static HRESULT store(std::u16string& field, LPOLESTR text) noexcept {
        try {
            field = textOf(text);
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    static HRESULT hand(const std::u16string& field, BSTR* out) noexcept {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        *out = copyText(field);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    GUID guid_ = IID_NULL;
    std::u16string source_;
    std::u16string description_;
    std::u16string helpFile_;
    DWORD helpContext_ = 0;
};

// The thread's error object; released when the thread ends.
thread_local orva::ComPtr<IErrorInfo> slot;

}  // namespace

ORVA_API_ENTRY HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (pperrinfo == nullptr) {
        return E_INVALIDARG;
    }
    return orva::createObject<ErrorInfo>(IID_ICreateErrorInfo, reinterpret_cast<void**>(pperrinfo));
}

ORVA_API_ENTRY HRESULT SetErrorInfo(ULONG /*dwReserved*/, IErrorInfo* perrinfo) {
    slot = orva::ComPtr<IErrorInfo>::share(perrinfo);
    return S_OK;
}

ORVA_API_ENTRY HRESULT GetErrorInfo(ULONG /*dwReserved*/, IErrorInfo** pperrinfo) {
    if (pperrinfo == nullptr) {
        return E_INVALIDARG;
    }
    *pperrinfo = slot.detach();
    return *pperrinfo != nullptr ? S_OK : S_FALSE;
}
