// Late binding over a method table.

#include "dispatch_table.h"

#include <array>
#include <string>

#include "com_module.h"
#include "orva/com_object_base.h"
#include "orva/com_ptr.h"
#include "orva/unique_bstr.h"
#include "orva/unique_variant.h"

namespace orva::com {

namespace {

// The most parameters a method of ours takes.
constexpr std::size_t kMaxParams = 8;

char16_t folded(char16_t c) noexcept {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Names compare without regard to (ASCII) case, as automation compares them.
bool sameName(const OLECHAR* wide, const char* name) noexcept {
    std::size_t i = 0;
    for (; wide[i] != u'\0' && name[i] != '\0'; ++i) {
        if (folded(wide[i]) != folded(static_cast<char16_t>(static_cast<unsigned char>(name[i])))) {
            return false;
        }
    }
    return wide[i] == u'\0' && name[i] == '\0';
}

BSTR bstrOf(const std::string& ascii) {
    const std::u16string wide(ascii.begin(), ascii.end());
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// The method's identifier, then its parameters' (their positions).
HRESULT namesToIds(const InterfaceDescription& description, LPOLESTR* names, UINT count,
                   DISPID* ids) {
    if (count == 0) {
        return S_OK;
    }
    if (names == nullptr || ids == nullptr || names[0] == nullptr) {
        return E_INVALIDARG;
    }
    const MethodDescription* method = nullptr;
    for (const MethodDescription& candidate : description.methods) {
        if (sameName(names[0], candidate.name)) {
            method = &candidate;
            break;
        }
    }
    if (method == nullptr) {
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
        }
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = method->id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (std::size_t p = 0; names[i] != nullptr && p < method->params.size(); ++p) {
            if (sameName(names[i], method->params[p].name)) {
                ids[i] = static_cast<DISPID>(p);
            }
        }
        if (ids[i] == DISPID_UNKNOWN) {
            hr = DISP_E_UNKNOWNNAME;
        }
    }
    return hr;
}

// Reads the module's own table, so it holds the module while it lives.
class TableTypeInfo final : public RefCountedObject<ITypeInfo, IID_ITypeInfo> {
  public:
    explicit TableTypeInfo(const InterfaceDescription& description) noexcept
        : description_(description) {
        comModule().lock();
    }
    ~TableTypeInfo() override { comModule().unlock(); }

    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override {
        return namesToIds(description_, rgszNames, cNames, pMemId);
    }

    // DISPID_UNKNOWN (MEMBERID_NIL) documents the interface itself.
    HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override {
        std::string name;
        std::string help;
        if (memid == DISPID_UNKNOWN) {
            name = description_.name;
            help = description_.help;
        } else {
            const MethodDescription* method = DispatchTable(description_).find(memid);
            if (method == nullptr) {
                return TYPE_E_ELEMENTNOTFOUND;
            }
            name = method->name;
            help = std::string(kMethodHelpPrefix) + method->name;
        }
        if (pdwHelpContext != nullptr) {
            *pdwHelpContext = 0;
        }
        if (pBstrHelpFile != nullptr) {
            *pBstrHelpFile = nullptr;
        }
        UniqueBstr nameText(pBstrName != nullptr ? bstrOf(name) : nullptr);
        UniqueBstr helpText(pBstrDocString != nullptr ? bstrOf(help) : nullptr);
        if ((pBstrName != nullptr && !nameText) || (pBstrDocString != nullptr && !helpText)) {
            return E_OUTOFMEMORY;
        }
        if (pBstrName != nullptr) {
            *pBstrName = nameText.release();
        }
        if (pBstrDocString != nullptr) {
            *pBstrDocString = helpText.release();
        }
        return S_OK;
    }

  private:
    const InterfaceDescription& description_;
};

// The failure as a script engine sees it: the code, and the description the
// method left in the thread's error information (which is taken).
void fillException(HRESULT code, EXCEPINFO* info) {
    ComPtr<IErrorInfo> error;
    const bool haveError = GetErrorInfo(0, error.put()) == S_OK && error;
    if (info != nullptr) {
        *info = EXCEPINFO{};
        info->scode = code;
        if (haveError) {
            error->GetDescription(&info->bstrDescription);
        }
    }
}

}  // namespace

const MethodDescription* DispatchTable::find(DISPID id) const noexcept {
    for (const MethodDescription& method : description_.methods) {
        if (method.id == id) {
            return &method;
        }
    }
    return nullptr;
}

HRESULT DispatchTable::getTypeInfo(UINT iTInfo, ITypeInfo** ppTInfo) const {
    if (ppTInfo == nullptr) {
        return E_POINTER;
    }
    *ppTInfo = nullptr;
    if (iTInfo != 0) {
        return DISP_E_BADINDEX;
    }
    return createObject<TableTypeInfo>(IID_ITypeInfo, reinterpret_cast<void**>(ppTInfo),
                                       description_);
}

HRESULT DispatchTable::getIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                     DISPID* rgDispId) const {
    if (riid != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    return namesToIds(description_, rgszNames, cNames, rgDispId);
}

HRESULT DispatchTable::invoke(IDispatch& object, DISPID dispIdMember, REFIID riid, WORD wFlags,
                              DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                              UINT* puArgErr) const {
    if (riid != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    const MethodDescription* method = find(dispIdMember);
    if (method == nullptr || (wFlags & DISPATCH_METHOD) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (pDispParams == nullptr || (pDispParams->cArgs > 0 && pDispParams->rgvarg == nullptr)) {
        return E_INVALIDARG;
    }
    if (pDispParams->cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }
    const std::size_t count = method->params.size();
    if (pDispParams->cArgs != count || count > kMaxParams) {
        return DISP_E_BADPARAMCOUNT;
    }
    // The script's arguments, last first, coerced to the parameters' types.
    UniqueVariants<std::array<VARIANT, kMaxParams>> args;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t from = count - 1 - i;
        const VARTYPE type = method->params[i].type == ParamType::text ? VT_BSTR : VT_INT;
        const HRESULT hr = VariantChangeType(&args[i], &pDispParams->rgvarg[from], 0, type);
        if (FAILED(hr)) {
            if (puArgErr != nullptr) {
                *puArgErr = static_cast<UINT>(from);
            }
            return hr;
        }
    }
    // The empty text a failing method leaves, or a result nobody asked for,
    // is nobody's: freed with its owner.
    UniqueVariant result;
    result->vt = method->result.type == ParamType::text ? VT_BSTR : VT_INT;
    const HRESULT hr = method->call(object, args.data(), result.get());
    if (FAILED(hr)) {
        fillException(hr, pExcepInfo);
        return DISP_E_EXCEPTION;
    }
    if (pVarResult != nullptr) {
        *pVarResult = result.release();
    }
    return hr;
}

}  // namespace orva::com
