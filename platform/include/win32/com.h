#pragma once

// Our COM and Automation layer: the interface types, GUIDs, BSTRs, VARIANTs,
// per-thread error information, activation through the registry's
// InprocServer32 and the built-in component-categories manager. Calls run on
// the caller's thread; there are no apartments.

#include <cstddef>
#include <cstring>

#include "win32/types.h"

typedef LONG HRESULT;
typedef LONG SCODE;
typedef DWORD LCID;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef unsigned short USHORT;
typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
// UTF-16 text with its byte length stored just before the first character and
// a NUL after the last; a null BSTR reads as the empty text.
typedef OLECHAR* BSTR;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef GUID CATID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool operator==(const GUID& a, const GUID& b) noexcept {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

inline bool IsEqualGUID(REFGUID a, REFGUID b) noexcept {
    return a == b;
}

// HRESULTs: negative is failure.
inline constexpr bool SUCCEEDED(HRESULT hr) noexcept {
    return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) noexcept {
    return hr < 0;
}
inline constexpr HRESULT hresultOf(uint32_t bits) noexcept {
    return static_cast<HRESULT>(bits);
}
inline constexpr HRESULT HRESULT_FROM_WIN32(LONG error) noexcept {
    return error <= 0 ? error : hresultOf((static_cast<uint32_t>(error) & 0xFFFFu) | 0x80070000u);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hresultOf(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = hresultOf(0x80004002u);
inline constexpr HRESULT E_POINTER = hresultOf(0x80004003u);
inline constexpr HRESULT E_FAIL = hresultOf(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = hresultOf(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = hresultOf(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = hresultOf(0x80070057u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = hresultOf(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresultOf(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hresultOf(0x80040154u);
inline constexpr HRESULT CO_E_CLASSSTRING = hresultOf(0x800401F3u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = hresultOf(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = hresultOf(0x800401F9u);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresultOf(0x80020001u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresultOf(0x80020003u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hresultOf(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hresultOf(0x80020006u);
inline constexpr HRESULT DISP_E_NONAMEDARGS = hresultOf(0x80020007u);
inline constexpr HRESULT DISP_E_BADVARTYPE = hresultOf(0x80020008u);
inline constexpr HRESULT DISP_E_EXCEPTION = hresultOf(0x80020009u);
inline constexpr HRESULT DISP_E_OVERFLOW = hresultOf(0x8002000Au);
inline constexpr HRESULT DISP_E_BADINDEX = hresultOf(0x8002000Bu);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hresultOf(0x8002000Eu);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = hresultOf(0x8002802Bu);

#define CLSCTX_INPROC_SERVER 0x1u
#define DISPATCH_METHOD 0x1u
#define DISPATCH_PROPERTYGET 0x2u
#define DISPID_UNKNOWN (-1)

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_BYREF = 0x4000,
};

// Currency: a 64-bit integer counting ten-thousandths.
struct CY {
    int64_t int64;
};
// Days since 30 December 1899, the time of day as the fraction.
typedef double DATE;
// A VARIANT's record form. Nothing here makes or reads one; its two pointers
// size the value, as the x64 Automation layout has it.
struct VariantRecord {
    void* pvRecord;
    void* pRecInfo;
};

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

struct IUnknown;
struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        INT intVal;
        int16_t iVal;
        CHAR cVal;
        BYTE bVal;
        USHORT uiVal;
        ULONG ulVal;
        UINT uintVal;
        int64_t llVal;
        uint64_t ullVal;
        float fltVal;
        double dblVal;
        CY cyVal;
        DATE date;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        VARIANT* pvarVal;
        BSTR* pbstrVal;
        LONG* plVal;
        INT* pintVal;
        int16_t* piVal;
        CHAR* pcVal;
        BYTE* pbVal;
        USHORT* puiVal;
        ULONG* pulVal;
        UINT* puintVal;
        int64_t* pllVal;
        uint64_t* pullVal;
        float* pfltVal;
        double* pdblVal;
        CY* pcyVal;
        DATE* pdate;
        VARIANT_BOOL* pboolVal;
        void* byref;
        VariantRecord recordVal;
    };
};
typedef VARIANT VARIANTARG;

struct DISPPARAMS {
    VARIANTARG* rgvarg;  // the arguments in reverse order
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    void* pfnDeferredFillIn;
    SCODE scode;
};

// Script hosts pass these by the published x64 Automation layout: an array
// of VARIANTs with another stride misreads every argument after the first.
static_assert(sizeof(VARIANT) == 24 && alignof(VARIANT) == 8);
static_assert(offsetof(VARIANT, vt) == 0 && offsetof(VARIANT, wReserved3) == 6 &&
              offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, recordVal) == 8);
static_assert(sizeof(DISPPARAMS) == 24 && offsetof(DISPPARAMS, rgdispidNamedArgs) == 8 &&
              offsetof(DISPPARAMS, cArgs) == 16 && offsetof(DISPPARAMS, cNamedArgs) == 20);
static_assert(sizeof(EXCEPINFO) == 64 && offsetof(EXCEPINFO, bstrSource) == 8 &&
              offsetof(EXCEPINFO, bstrDescription) == 16 &&
              offsetof(EXCEPINFO, bstrHelpFile) == 24 && offsetof(EXCEPINFO, dwHelpContext) == 32 &&
              offsetof(EXCEPINFO, pvReserved) == 40 &&
              offsetof(EXCEPINFO, pfnDeferredFillIn) == 48 && offsetof(EXCEPINFO, scode) == 56);

struct CATEGORYINFO {
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
};

// Interfaces: declaration order is vtable order.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

// Type information, reduced to what callers here ask of it: names and
// dispatch identifiers, and each member's documentation.
struct ITypeInfo : IUnknown {
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                     DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           UINT* puArgErr) = 0;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID rguid) = 0;
    virtual HRESULT SetSource(LPOLESTR szSource) = 0;
    virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
};

struct ICatRegister : IUnknown {
    virtual HRESULT RegisterCategories(ULONG cCategories, CATEGORYINFO* rgCategoryInfo) = 0;
    virtual HRESULT UnRegisterCategories(ULONG cCategories, CATID* rgcatid) = 0;
    virtual HRESULT RegisterClassImplCategories(REFCLSID rclsid, ULONG cCategories,
                                                CATID* rgcatid) = 0;
    virtual HRESULT UnRegisterClassImplCategories(REFCLSID rclsid, ULONG cCategories,
                                                  CATID* rgcatid) = 0;
    virtual HRESULT RegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories,
                                               CATID* rgcatid) = 0;
    virtual HRESULT UnRegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories,
                                                 CATID* rgcatid) = 0;
};

// The public identifiers of the standard interfaces and classes.
inline constexpr IID IID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown{0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch{0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeInfo{0x00020401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IErrorInfo{
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo{
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICatRegister{0x0002E012, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr CLSID CLSID_StdComponentCategoriesMgr{
    0x0002E005, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// An in-process server's exports.
typedef HRESULT (*DllGetClassObjectProc)(REFCLSID rclsid, REFIID riid, void** ppv);
typedef HRESULT (*DllCanUnloadNowProc)(void);
typedef HRESULT (*DllRegisterServerProc)(void);

// BSTRs. Allocation counts are kept so that tests can prove none leaks.
ORVA_API_ENTRY BSTR SysAllocString(const OLECHAR* psz);
ORVA_API_ENTRY BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
// len bytes, which may be an odd count; SysStringLen then leaves the last
// byte out.
ORVA_API_ENTRY BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
ORVA_API_ENTRY void SysFreeString(BSTR bstrString);
ORVA_API_ENTRY UINT SysStringLen(BSTR pbstr);
ORVA_API_ENTRY UINT SysStringByteLen(BSTR bstr);

// VARIANTs. VariantChangeType converts to VT_BSTR, VT_I4 and VT_INT from
// VT_EMPTY, VT_BOOL, VT_BSTR and the scalar types (the integers, VT_R4, VT_R8,
// VT_CY, VT_DATE), by reference too; VT_DATE has no text (DISP_E_TYPEMISMATCH).
ORVA_API_ENTRY void VariantInit(VARIANT* pvarg);
ORVA_API_ENTRY HRESULT VariantClear(VARIANT* pvarg);
ORVA_API_ENTRY HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags,
                                         VARTYPE vt);

// Error information, one slot per thread. GetErrorInfo hands the object over
// and clears the slot; S_FALSE when it is empty.
ORVA_API_ENTRY HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
ORVA_API_ENTRY HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
ORVA_API_ENTRY HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// GUID texts: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
ORVA_API_ENTRY int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
ORVA_API_ENTRY HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);

// Activation: the built-in categories manager, or the class's
// HKCR\CLSID\{...}\InprocServer32 module, loaded once and kept.
ORVA_API_ENTRY HRESULT CoInitialize(LPVOID pvReserved);
ORVA_API_ENTRY void CoUninitialize(void);
ORVA_API_ENTRY HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved,
                                        REFIID riid, LPVOID* ppv);
ORVA_API_ENTRY HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                        REFIID riid, LPVOID* ppv);
ORVA_API_ENTRY HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
