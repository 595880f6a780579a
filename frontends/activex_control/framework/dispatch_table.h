#pragma once

// Late binding from one table of methods: the names, dispatch identifiers,
// parameter types and help texts of an interface's methods, and per method a
// typed adapter onto its vtable entry. The same table answers GetIDsOfNames,
// Invoke and GetTypeInfo, and describes the type library.

#include <span>

#include "win32/com.h"

namespace orva::com {

// The automation types the methods use: BSTR and INT.
enum class ParamType { text, integer };

struct ParamDescription {
    const char* name;
    ParamType type;
};

// Calls one method with its arguments coerced, in declaration order, and
// its [out,retval] in *result (vt already set).
using MethodAdapter = HRESULT (*)(IDispatch& object, const VARIANT* args, VARIANT* result);

struct MethodDescription {
    DISPID id;
    const char* name;
    std::span<const ParamDescription> params;  // without the [out,retval]
    ParamDescription result;
    MethodAdapter call;
};

struct InterfaceDescription {
    const char* name;
    const char* help;
    std::span<const MethodDescription> methods;
};

// The IDispatch operations over a table, for an object that offers them.
class DispatchTable {
  public:
    explicit DispatchTable(const InterfaceDescription& description) noexcept
        : description_(description) {}

    HRESULT getTypeInfo(UINT iTInfo, ITypeInfo** ppTInfo) const;
    HRESULT getIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) const;
    HRESULT invoke(IDispatch& object, DISPID dispIdMember, REFIID riid, WORD wFlags,
                   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                   UINT* puArgErr) const;

    const MethodDescription* find(DISPID id) const noexcept;

  private:
    const InterfaceDescription& description_;
};

// "method " + the method's name: each method's help text.
inline constexpr const char* kMethodHelpPrefix = "method ";

// A dual interface I served from Table::description() for the class T.
template <class I, const InterfaceDescription& Description>
class DispatchImpl : public I {
  public:
    HRESULT GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo == nullptr) {
            return E_POINTER;
        }
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT iTInfo, LCID /*lcid*/, ITypeInfo** ppTInfo) override {
        return DispatchTable(Description).getTypeInfo(iTInfo, ppTInfo);
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID /*lcid*/,
                          DISPID* rgDispId) override {
        return DispatchTable(Description).getIDsOfNames(riid, rgszNames, cNames, rgDispId);
    }
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID /*lcid*/, WORD wFlags,
                   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                   UINT* puArgErr) override {
        return DispatchTable(Description)
            .invoke(*this, dispIdMember, riid, wFlags, pDispParams, pVarResult, pExcepInfo,
                    puArgErr);
    }
};

}  // namespace orva::com
