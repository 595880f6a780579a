// Fuzzes the control's late binding as a script engine or a COM client calls
// it: GetIDsOfNames with any names, Invoke with any DISPPARAMS, and the
// platform's VARIANT coercion that Invoke applies to each argument. The
// control is the built module, created through the registry, over the
// recording stand-in token API library. Input: byte 0 picks the stand-in's
// answers and the ANSI code page; then operations (README.md).

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "frontend_test_support.h"
#include "input_reader.h"
#include "orva/com_registration.h"
#include "regsvr.h"
#include "stub_library.h"
#include "win32/com.h"

namespace {

using orva::fuzz::check;
using orva::fuzz::InputReader;

// The interface's methods by dispatch identifier (1 to 33): name and the
// number of parameters before the [out,retval].
struct Method {
    const char* name;
    UINT params;
};
constexpr Method kMethods[] = {
    {"GetMediaID", 0},           {"GetDriverVersion", 0},    {"GMGetCertDN", 0},
    {"GMGetPublicKey", 1},       {"GMGetPublicKeyC", 3},     {"GetPublicKeyC", 0},
    {"GMGetAdminKeyInfo", 0},    {"GMDelTempKey", 2},        {"GetVersion", 0},
    {"CustInitCard", 0},         {"ChangePin", 0},           {"GetCharsetList", 0},
    {"SetCharset", 1},           {"GetLanguageList", 0},     {"SetLanguage", 1},
    {"SetWarningMsg", 1},        {"GMUsbKeySign", 5},        {"GMUsbKeySignFile", 6},
    {"GMCreatePKCS10", 1},       {"GMWritePKCS7", 1},        {"GMWritePKCS7_Enc", 3},
    {"GMGetTemKey", 0},          {"GMBankEncGetRand", 0},    {"GMGetPKCS7", 0},
    {"GMJudgeAndDelOlderDN", 0}, {"GetCSPInfo", 1},          {"GetPublicKeyNum", 0},
    {"RegisterCert", 0},         {"UnRegisterCert", 0},      {"NSChooseFileExt", 0},
    {"NSFileToTokenExt", 1},     {"GMUsbKeySignFileExt", 5}, {"GetSignFileContent", 3},
};
constexpr DISPID kMethodCount = static_cast<DISPID>(std::size(kMethods));
constexpr DISPID kGetSignFileContent = 33;
// GetSignFileContent sizes its buffer by what the caller asks, up to 2 GiB; a
// run keeps to pieces of at most this.
constexpr INT kLargestPiece = 1 << 20;

// The stand-in library, and the control registered in its registry and
// created once, as a page keeps its object.
class Control {
  public:
    Control() {
        const std::string module =
            (orva::frontend::test::binFolder() / "ORVAGM_XRUsbKey.so").string();
        check(orva::tools::runRegsvr({module}).exitCode == 0);
        CLSID clsid{};
        check(CLSIDFromProgID(u"Orva_usbkey_ctrl.orva_usbkey", &clsid) == S_OK);
        void* object = nullptr;
        check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object) ==
              S_OK);
        dispatch_ = static_cast<IDispatch*>(object);
        baselineBstrs_ = orva::platform::liveBstrCount();
    }
    ~Control() { dispatch_->Release(); }

    IDispatch& dispatch() noexcept { return *dispatch_; }
    orva::fuzz::StubLibrary& library() noexcept { return library_; }

    // Every BSTR made during an operation is freed by its end.
    void checkBalanced() const { check(orva::platform::liveBstrCount() == baselineBstrs_); }

  private:
    orva::fuzz::StubLibrary library_;  // first: the control is registered in its registry
    IDispatch* dispatch_ = nullptr;
    std::size_t baselineBstrs_ = 0;
};

Control& control() {
    static Control instance;
    return instance;
}

// The scalar types beyond those the byte-coded kinds name, and those of them
// whose value takes 8 bytes.
bool isOtherScalar(VARTYPE vt) noexcept {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_UINT:
        case VT_R4:
        case VT_CY:
        case VT_DATE:
            return true;
        default:
            return false;
    }
}
bool isWideScalar(VARTYPE vt) noexcept {
    return vt == VT_I8 || vt == VT_UI8 || vt == VT_CY || vt == VT_DATE;
}

// A decoded VARIANT, and, for one passed by reference, the same value passed
// directly: both must coerce alike.
// A VARIANT with every byte zero: VARIANT{} sets only the union's first member.
VARIANT zeroed() noexcept {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    return v;
}

struct Decoded {
    VARIANT value = zeroed();
    VARIANT direct = zeroed();
    bool comparable = true;  // false: a reference to a reference, followed no further
};

// The VARIANTs of one operation and everything they point to, freed at its
// end. A script engine owns its arguments; the callee only reads them.
class Variants {
  public:
    Variants() = default;
    Variants(const Variants&) = delete;
    Variants& operator=(const Variants&) = delete;
    ~Variants() {
        for (BSTR text : bstrs_) {
            SysFreeString(text);
        }
    }

    Decoded decode(InputReader& in, int depth = 0) {
        Decoded d;
        VARIANT& v = d.value;
        const uint8_t kind = in.byte();
        switch (kind % 18) {
            case 0:
                v.vt = VT_EMPTY;
                break;
            case 1:
                v.vt = VT_NULL;
                break;
            case 2:
                v.vt = VT_I2;
                v.iVal = in.number<int16_t>();
                break;
            case 3:
                v.vt = VT_I4;
                v.lVal = in.number<int32_t>();
                break;
            case 4:
                v.vt = VT_INT;
                v.intVal = in.number<int32_t>();
                break;
            case 5:
                v.vt = VT_R8;
                v.dblVal = in.number<double>();
                break;
            case 6:
                v.vt = VT_BOOL;
                v.boolVal = static_cast<VARIANT_BOOL>(in.number<int16_t>());
                break;
            case 7:
                v.vt = VT_BSTR;
                v.bstrVal = bstr(in.bytes(std::size_t{in.byte()} * 2));
                break;
            case 8:
                v.vt = VT_BSTR;
                v.bstrVal = bstr(in.bytes(std::size_t{in.number<uint16_t>()} * 2));
                break;
            case 9:
                // An odd number of bytes, as SysAllocStringByteLen makes.
                v.vt = VT_BSTR;
                v.bstrVal = bstr(in.bytes(std::size_t{in.byte()} * 2 + 1));
                break;
            case 10:
                v.vt = VT_BSTR;
                v.bstrVal = nullptr;
                break;
            case 11:
                v.vt = VT_ERROR;
                v.scode = in.number<int32_t>();
                break;
            case 12:
                // An object: the control itself, not AddRef'd, as a borrowed argument.
                v.vt = (in.byte() & 1) != 0 ? VT_DISPATCH : VT_UNKNOWN;
                v.pdispVal = (in.byte() & 1) != 0 ? &control().dispatch() : nullptr;
                break;
            case 13:
                // VT_VARIANT is only meaningful by reference.
                v.vt = VT_VARIANT;
                break;
            case 14:
                return byReference(in, depth);
            case 15:
                v.vt = static_cast<VARTYPE>(VT_BYREF | (in.byte() % 16));
                v.plVal = nullptr;
                break;
            case 16: {
                // Any other type, the other scalars among them, with a payload no
                // pointer is read from: 8 bytes for the 8-byte scalars.
                VARTYPE vt = in.number<uint16_t>() & static_cast<VARTYPE>(~VT_BYREF);
                if (vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN) {
                    vt = VT_EMPTY;
                }
                v.vt = vt;
                if (isWideScalar(vt)) {
                    v.llVal = in.number<int64_t>();
                } else {
                    v.lVal = in.number<int32_t>();
                }
                break;
            }
            default:
                // A BSTR with characters beyond ASCII: Chinese, surrogates, NULs.
                v.vt = VT_BSTR;
                v.bstrVal = wide(in);
                break;
        }
        d.direct = v;
        return d;
    }

    // A BSTR of these bytes, owned here.
    BSTR bstr(std::string_view bytes) {
        BSTR text = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
        check(text != nullptr);
        bstrs_.push_back(text);
        return text;
    }

  private:
    BSTR wide(InputReader& in) {
        static constexpr char16_t kUnits[] = {u'\0',     u'\u4e2d', u'\u6587', 0xD800, 0xDC00,
                                              u'\u00e9', u'a',      u'%',      0xFFFF, u'\u20ac'};
        std::u16string units(in.byte() % 64, u' ');
        for (char16_t& unit : units) {
            unit = kUnits[in.byte() % std::size(kUnits)];
        }
        return bstr({reinterpret_cast<const char*>(units.data()), units.size() * 2});
    }

    Decoded byReference(InputReader& in, int depth) {
        Decoded d;
        const uint8_t base = in.byte() % 7;
        if (base == 6 && depth < 2) {
            // A VARIANT by reference: one level is followed.
            values_.push_back(decode(in, depth + 1).value);
            d.value.vt = VT_BYREF | VT_VARIANT;
            d.value.pvarVal = &values_.back();
            d.direct = values_.back();
            d.comparable = (d.direct.vt & VT_BYREF) == 0;
            return d;
        }
        static constexpr VARTYPE kBases[] = {VT_I2, VT_I4, VT_INT, VT_R8, VT_BOOL, VT_BSTR};
        values_.push_back(decode(in, depth + 1).direct);
        VARIANT& target = values_.back();
        // A scalar of the other types is passed as itself.
        const VARTYPE vt = isOtherScalar(target.vt) ? target.vt : kBases[base % std::size(kBases)];
        // The pointed-to value is the decoded one when the types agree, else zero.
        if (target.vt != vt) {
            target = zeroed();
            target.vt = vt;
        }
        d.direct = target;
        d.value.vt = static_cast<VARTYPE>(VT_BYREF | vt);
        d.value.plVal = &target.lVal;  // every member starts at the same place
        return d;
    }

    std::vector<BSTR> bstrs_;
    std::deque<VARIANT> values_;  // stable addresses for VT_BYREF
};

void checkBstr(BSTR text) {
    if (text == nullptr) {
        return;
    }
    const UINT length = SysStringLen(text);
    volatile unsigned sum = 0;
    for (UINT i = 0; i < length; ++i) {
        sum = sum + text[i];
    }
    if (SysStringByteLen(text) % 2 == 0) {
        check(text[length] == u'\0');
    }
}

bool sameVariant(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) {
        return false;
    }
    if (a.vt != VT_BSTR) {
        return a.vt != VT_I4 && a.vt != VT_INT ? true : a.intVal == b.intVal;
    }
    return SysStringByteLen(a.bstrVal) == SysStringByteLen(b.bstrVal) &&
           std::memcmp(a.bstrVal == nullptr ? u"" : a.bstrVal,
                       b.bstrVal == nullptr ? u"" : b.bstrVal, SysStringByteLen(a.bstrVal)) == 0;
}

// A name as a script or a client may pass one.
std::u16string nameOf(InputReader& in) {
    const uint8_t pick = in.byte();
    if (pick < 0xC0) {
        // A method's name, its letters' case flipped where the input says.
        const char* name = kMethods[pick % kMethodCount].name;
        const uint32_t flips = in.number<uint32_t>();
        std::u16string wide;
        for (std::size_t i = 0; name[i] != '\0'; ++i) {
            char c = name[i];
            if (i < 32 && (flips >> i & 1) != 0 && std::isalpha(static_cast<unsigned char>(c))) {
                c = static_cast<char>(c ^ 0x20);
            }
            wide += static_cast<char16_t>(c);
        }
        return wide;
    }
    const std::string_view raw = in.bytes(std::size_t{in.byte()} * 2);
    std::u16string wide(raw.size() / 2, u'\0');
    std::memcpy(wide.data(), raw.data(), wide.size() * 2);
    return wide.substr(0, wide.find(u'\0'));
}

// The DISPID of a method name compared without regard to ASCII case; 0 for none.
DISPID methodOf(const std::u16string& name) {
    for (DISPID id = 1; id <= kMethodCount; ++id) {
        const char* method = kMethods[id - 1].name;
        const std::size_t length = std::strlen(method);
        bool same = name.size() == length;
        for (std::size_t i = 0; same && i < length; ++i) {
            same = name[i] < 0x80 && std::tolower(static_cast<int>(name[i])) ==
                                         std::tolower(static_cast<unsigned char>(method[i]));
        }
        if (same) {
            return id;
        }
    }
    return 0;
}

void namesToIds(InputReader& in) {
    const uint8_t shape = in.byte();
    const UINT count = shape & 7;
    std::vector<std::unique_ptr<char16_t[]>> texts;
    std::vector<std::u16string> names;
    std::vector<LPOLESTR> pointers;
    for (UINT i = 0; i < count; ++i) {
        names.push_back(nameOf(in));
        if ((in.byte() & 0x0F) == 0) {
            pointers.push_back(nullptr);
            continue;
        }
        texts.push_back(std::make_unique<char16_t[]>(names.back().size() + 1));
        std::copy(names.back().begin(), names.back().end(), texts.back().get());
        pointers.push_back(texts.back().get());
    }
    auto ids = std::make_unique<DISPID[]>(count);
    LPOLESTR* nameArray = (shape & 0x08) != 0 ? nullptr : pointers.data();
    DISPID* idArray = (shape & 0x10) != 0 ? nullptr : ids.get();
    const IID& riid = (shape & 0x20) != 0 ? IID_IDispatch : IID_NULL;

    const HRESULT hr = control().dispatch().GetIDsOfNames(riid, nameArray, count, 0x409, idArray);
    if (riid != IID_NULL) {
        check(hr == DISP_E_UNKNOWNINTERFACE);
        return;
    }
    if (count == 0) {
        check(hr == S_OK);
        return;
    }
    if (nameArray == nullptr || idArray == nullptr || pointers[0] == nullptr) {
        check(hr == E_INVALIDARG);
        return;
    }
    const DISPID method = methodOf(names[0]);
    if (method == 0) {
        check(hr == DISP_E_UNKNOWNNAME);
        for (UINT i = 0; i < count; ++i) {
            check(ids[i] == DISPID_UNKNOWN);
        }
        return;
    }
    check(ids[0] == method && (hr == S_OK || hr == DISP_E_UNKNOWNNAME));
    for (UINT i = 1; i < count; ++i) {
        check(ids[i] == DISPID_UNKNOWN ||
              (ids[i] >= 0 && static_cast<UINT>(ids[i]) < kMethods[method - 1].params));
    }
}

// The page's piece size of GetSignFileContent, as far as the run must bound it.
bool hugePiece(DISPID id, const DISPPARAMS& params) {
    if (id != kGetSignFileContent || params.cArgs != 3 || params.rgvarg == nullptr) {
        return false;
    }
    VARIANT size;
    VariantInit(&size);
    return VariantChangeType(&size, &params.rgvarg[1], 0, VT_INT) == S_OK &&
           size.intVal > kLargestPiece;
}

void invoke(InputReader& in) {
    const uint8_t pick = in.byte();
    DISPID id = pick <= 40 ? pick : pick < 0xFF ? -static_cast<DISPID>(pick) : in.number<int32_t>();
    const uint8_t flags = in.byte();
    const WORD wFlags = (flags & 0x80) != 0 ? flags & 0x0F : DISPATCH_METHOD | (flags & 2);
    const IID& riid = (flags & 0x40) != 0 ? IID_IDispatch : IID_NULL;
    const uint8_t shape = in.byte();

    Variants owned;
    std::vector<VARIANT> args;
    for (uint8_t i = 0; i < (shape & 0x0F); ++i) {
        args.push_back(owned.decode(in).value);
    }
    std::vector<DISPID> named((shape & 0x20) != 0 ? 1 + (shape >> 6) : 0);
    for (DISPID& n : named) {
        n = static_cast<int8_t>(in.byte());
    }
    DISPPARAMS params{(shape & 0x10) != 0 ? nullptr : args.data(),
                      named.empty() ? nullptr : named.data(), static_cast<UINT>(args.size()),
                      static_cast<UINT>(named.size())};
    if (hugePiece(id, params)) {
        return;
    }
    const std::vector<VARIANT> before = args;

    const uint8_t outs = in.byte();
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT argError = UINT32_MAX;
    const HRESULT hr = control().dispatch().Invoke(
        id, riid, 0x409, wFlags, &params, (outs & 1) != 0 ? nullptr : &result,
        (outs & 2) != 0 ? nullptr : &exception, (outs & 4) != 0 ? nullptr : &argError);

    // The caller's arguments are read, never changed or freed.
    check(args.empty() ||
          std::memcmp(before.data(), args.data(), args.size() * sizeof(VARIANT)) == 0);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);

    if (riid != IID_NULL) {
        check(hr == DISP_E_UNKNOWNINTERFACE);
        return;
    }
    if (id < 1 || id > kMethodCount || (wFlags & DISPATCH_METHOD) == 0) {
        check(hr == DISP_E_MEMBERNOTFOUND);
        return;
    }
    if (params.rgvarg != nullptr && named.empty() && args.size() != kMethods[id - 1].params) {
        check(hr == DISP_E_BADPARAMCOUNT);
    }
    if (hr == S_OK && (outs & 1) == 0) {
        check(result.vt == VT_BSTR || result.vt == VT_INT);
        if (result.vt == VT_BSTR) {
            checkBstr(result.bstrVal);
        }
    }
    if (hr == DISP_E_EXCEPTION && (outs & 2) == 0) {
        check(exception.scode < 0);
    }
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_BADVARTYPE) &&
        (outs & 4) == 0) {
        check(argError < args.size());
    }
    if (hr != S_OK) {
        check(result.vt == VT_EMPTY);
    }
    VariantClear(&result);
}

// Converts, and checks what a conversion promises: the type asked for, an
// unchanged destination on failure, and texts that read back as the value.
HRESULT changeType(VARIANT& dest, const VARIANT& source, VARTYPE vt) {
    VariantInit(&dest);
    const HRESULT hr = VariantChangeType(&dest, &source, 0, vt);
    if (FAILED(hr)) {
        check(dest.vt == VT_EMPTY);
        return hr;
    }
    check(dest.vt == vt);
    if (vt == VT_BSTR) {
        checkBstr(dest.bstrVal);
    }
    return hr;
}

void coerce(InputReader& in) {
    Variants owned;
    const Decoded source = owned.decode(in);
    static constexpr VARTYPE kTargets[] = {VT_BSTR, VT_I4, VT_INT, VT_EMPTY, VT_R8, VT_BOOL};
    const uint8_t pick = in.byte();
    const VARTYPE vt = pick < 0xF0 ? kTargets[pick % std::size(kTargets)] : in.number<uint16_t>();

    VARIANT dest;
    const HRESULT hr = changeType(dest, source.value, vt);
    // By reference or directly, a value converts alike.
    VARIANT fromDirect;
    const HRESULT directHr = changeType(fromDirect, source.direct, vt);
    check(hr == directHr || !source.comparable);
    if (SUCCEEDED(hr) && SUCCEEDED(directHr) && source.comparable) {
        check(sameVariant(dest, fromDirect));
    }
    VariantClear(&fromDirect);

    // In place, the source's own BSTR is replaced and freed by the call.
    if ((pick & 0x80) != 0 && (source.direct.vt & VT_BYREF) == 0) {
        VARIANT inPlace = source.direct;
        if (inPlace.vt == VT_BSTR && inPlace.bstrVal != nullptr) {
            inPlace.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(inPlace.bstrVal),
                                                    SysStringByteLen(inPlace.bstrVal));
        }
        const HRESULT inPlaceHr = VariantChangeType(&inPlace, &inPlace, 0, vt);
        check(inPlaceHr == hr);
        if (SUCCEEDED(hr)) {
            check(sameVariant(inPlace, dest));
        }
        if (inPlace.vt == VT_BSTR) {
            SysFreeString(inPlace.bstrVal);
        }
    }
    if (FAILED(hr)) {
        return;
    }

    const VARIANT& value = source.direct;
    if (vt == VT_BSTR) {
        VARIANT back;
        if (value.vt == VT_BSTR) {
            // A text stays the same bytes, every one of them.
            check(sameVariant(dest, value));
        } else if (value.vt != VT_EMPTY && value.vt != VT_BOOL) {
            // A number's text reads back as the same integer; an integer's or a
            // currency's also overflows alike. (A float's text is the shortest
            // for a float: read as a double, it may name a neighbouring integer.)
            VARIANT number;
            const HRESULT numberHr = changeType(number, value, VT_INT);
            const HRESULT backHr = changeType(back, dest, VT_INT);
            check(value.vt == VT_R4 || numberHr != S_OK ||
                  (backHr == S_OK && back.intVal == number.intVal));
            check(value.vt == VT_R4 || value.vt == VT_R8 || backHr == numberHr);
            // A double's or a float's text reads back as the same value.
            const std::u16string wide(dest.bstrVal, SysStringLen(dest.bstrVal));
            const std::string text(wide.begin(), wide.end());
            check(value.vt != VT_R8 || !std::isfinite(value.dblVal) ||
                  std::strtod(text.c_str(), nullptr) == value.dblVal);
            check(value.vt != VT_R4 || !std::isfinite(value.fltVal) ||
                  std::strtof(text.c_str(), nullptr) == value.fltVal);
        }
    }
    if (vt == VT_INT || vt == VT_I4) {
        // An integer's text reads back as the integer.
        VARIANT text;
        VARIANT back;
        check(changeType(text, dest, VT_BSTR) == S_OK);
        check(changeType(back, text, VT_INT) == S_OK && back.intVal == dest.intVal);
        VariantClear(&text);
    }
    VariantClear(&dest);
}

}  // namespace

// The control is loaded before the fuzzer starts, so its coverage counts from
// the first input.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    control();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader in(data, size);
    Control& c = control();
    c.library().use(in.byte());
    for (int operations = 0; operations < 16 && !in.empty(); ++operations) {
        switch (in.byte() % 3) {
            case 0:
                namesToIds(in);
                break;
            case 1:
                invoke(in);
                break;
            default:
                coerce(in);
                break;
        }
        c.checkBalanced();
    }
    return 0;
}
