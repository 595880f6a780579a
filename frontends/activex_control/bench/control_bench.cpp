// control_bench: the cost of a call through the control's IDispatch, and of
// carrying a long result back as a BSTR. A program to run by hand
// (docs/performance.md), never a timed test. It binds the stand-in library.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "com_call.h"
#include "frontend_test_support.h"
#include "regsvr.h"

namespace {

using Clock = std::chrono::steady_clock;
using orva::frontend::test::TestFolder;

// Microseconds per call of method(args), over rounds calls on one object.
double perCall(IDispatch* object, const char* method, std::vector<VARIANT>& args, int rounds) {
    std::u16string name = orva::tools::utf16Of(method);
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        VARIANT result;
        VariantInit(&result);
        object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        VariantClear(&result);
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK) {
            info->Release();
        }
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
}

VARIANT text(const char16_t* value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    TestFolder folder;
    folder.write("registry.reg", orva::frontend::test::providerRegistry(
                                     orva::frontend::test::fakeApiFolder(), false));
    folder.write("fake/script.json", R"({"GetSignFileContent":{"length":8000000}})");
    folder.setEnv("ORVA_REGISTRY", (folder.root() / "registry.reg").string());
    folder.setEnv("ORVA_FAKE_API_DIR", (folder.root() / "fake").string());
    if (orva::tools::runRegsvr(
            {(orva::frontend::test::binFolder() / "ORVAGM_XRUsbKey.so").string()})
            .exitCode != 0) {
        std::fprintf(stderr, "cannot register the control\n");
        return 1;
    }
    CLSID clsid{};
    IDispatch* object = nullptr;
    if (CLSIDFromProgID(u"Orva_usbkey_ctrl.orva_usbkey", &clsid) != S_OK ||
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                         reinterpret_cast<void**>(&object)) != S_OK) {
        std::fprintf(stderr, "cannot create the control\n");
        return 1;
    }
    std::vector<VARIANT> none;
    // Refused before any export: the dispatch layer, the conversions and the error report.
    std::vector<VARIANT> refused = {text(u""), text(u"k"), text(u""), text(u"SM3"), text(u"CN=A")};
    std::vector<VARIANT> content = {text(u"0"), text(u"8000000"), text(u"tok")};
    std::printf("GetVersion (own version block)   %8.2f us\n",
                perCall(object, "GetVersion", none, rounds));
    std::printf("GMUsbKeySign refused (-106)      %8.2f us\n",
                perCall(object, "GMUsbKeySign", refused, rounds));
    std::printf("GetMediaID (stand-in library)    %8.2f us\n",
                perCall(object, "GetMediaID", none, rounds));
    std::printf("GetSignFileContent, 8 MB result  %8.2f ms\n",
                perCall(object, "GetSignFileContent", content, 20) / 1000);
    for (std::vector<VARIANT>* list : {&refused, &content}) {
        for (VARIANT& v : *list) {
            VariantClear(&v);
        }
    }
    object->Release();
    return 0;
}
