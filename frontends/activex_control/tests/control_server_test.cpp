// The control's COM server: the registry keys registration writes and
// removes, its class object and lock count, and its unloading.

#include <dlfcn.h>

#include "control_test_support.h"
#include "orva/com_registration.h"
#include "orva/registry_file.h"
#include "usbkey_interface.h"
#include "win32/errors.h"
#include "win32/module.h"

namespace orva::control::test {
namespace {

// HKCR as .reg text.
std::string classesRoot() {
    std::string text;
    EXPECT_EQ(platform::exportRegistryText(HKEY_CLASSES_ROOT, "", 0, &text, nullptr),
              ERROR_SUCCESS);
    return text;
}

const std::string kClassKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{F0682987-A368-4235-8021-460CD7F2A630}";
const std::string kScripting = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
const std::string kInitializing = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
const std::string kLibrary =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib\\{66589805-16CC-4491-85D6-F25350533B35}";
const std::string kInterface =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Interface\\{D8EC93B3-ABD7-4D0F-86B1-6A68B0959830}";

// What registering the module at modulePath leaves under HKCR.
std::string registeredKeys(const std::string& modulePath) {
    const std::string path = frontend::test::regString(modulePath);
    const std::string folder =
        frontend::test::regString(modulePath.substr(0, modulePath.rfind('/') + 1));
    const std::string categories = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Component Categories";
    const std::string progId =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Orva_usbkey_ctrl.orva_usbkey";
    const std::string clsid = "@=\"{F0682987-A368-4235-8021-460CD7F2A630}\"\n";
    return "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID]\n\n" +
           kClassKey + "]\n@=\"orva_usbkey Class\"\n\n" + kClassKey +
           "\\Implemented Categories]\n\n" + kClassKey + "\\Implemented Categories\\" + kScripting +
           "]\n\n" + kClassKey + "\\Implemented Categories\\" + kInitializing + "]\n\n" +
           kClassKey + "\\InprocServer32]\n@=" + path + "\n\"ThreadingModel\"=\"both\"\n\n" +
           kClassKey + "\\ProgID]\n@=\"Orva_usbkey_ctrl.orva_usbkey.1\"\n\n" + kClassKey +
           "\\VersionIndependentProgID]\n@=\"Orva_usbkey_ctrl.orva_usbkey\"\n\n" + categories +
           "]\n\n" + categories + "\\" + kScripting +
           "]\n\"409\"=\"Controls safely scriptable!\"\n\n" + categories + "\\" + kInitializing +
           "]\n\"409\"=\"Controls safely initializable from persistent data!\"\n\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Interface]\n\n" +
           kInterface + "]\n@=\"Iorva_usbkey\"\n\n" + kInterface +
           "\\TypeLib]\n@=\"{66589805-16CC-4491-85D6-F25350533B35}\"\n\"Version\"=\"1.0\"\n\n" +
           progId + "]\n@=\"orva_usbkey Class\"\n\n" + progId + "\\CLSID]\n" + clsid + "\n" +
           progId + ".1]\n@=\"orva_usbkey Class\"\n\n" + progId + ".1\\CLSID]\n" + clsid + "\n" +
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib]\n\n" + kLibrary + "]\n\n" + kLibrary +
           "\\1.0]\n@=\"orva_usbkey_ctrl 1.0 Type Library\"\n\n" + kLibrary + "\\1.0\\0]\n\n" +
           kLibrary + "\\1.0\\0\\win64]\n@=" + path + "\n\n" + kLibrary +
           "\\1.0\\FLAGS]\n@=\"0\"\n\n" + kLibrary + "\\1.0\\HELPDIR]\n@=" + folder + "\n\n";
}

orva::testing::ProgramResult regsvr(const std::vector<std::string>& args) {
    return orva::testing::runProgram((frontend::test::binFolder() / "orva-regsvr").string(), args);
}

class ControlServerTest : public ControlTest {
  protected:
    ControlServerTest() { folder_.write("registry.reg", "REGEDIT4\n"); }
};

TEST_F(ControlServerTest, RegistrationWritesAndRemovesExactlyItsKeys) {
    const std::string module = controlModule().string();
    ASSERT_EQ(regsvr({module}).exit, 0);
    EXPECT_EQ(classesRoot(), registeredKeys(module));

    // Again, over a class key that gained a subkey of someone else's: it is rewritten whole.
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{F0682987-A368-4235-8021-460CD7F2A630}\\Foreign",
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(regsvr({module}).exit, 0);
    EXPECT_EQ(classesRoot(), registeredKeys(module));

    // Unregistering leaves CLSID, the categories and the shared folders, and
    // another class's key.
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{00000000-1111-2222-3333-444444444444}", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    const orva::testing::ProgramResult removed = regsvr({"-u", module});
    EXPECT_EQ(removed.exit, 0) << removed.err;
    const std::string categories = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Component Categories";
    EXPECT_EQ(classesRoot(),
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID]\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\"
              "{00000000-1111-2222-3333-444444444444}]\n\n" +
                  categories + "]\n\n" + categories + "\\" + kScripting +
                  "]\n\"409\"=\"Controls safely scriptable!\"\n\n" + categories + "\\" +
                  kInitializing +
                  "]\n\"409\"=\"Controls safely initializable from persistent data!\"\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Interface]\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib]\n\n");
    // Unregistering what is not there is no failure.
    EXPECT_EQ(regsvr({"-u", module}).exit, 0);
    EXPECT_EQ(regsvr({"-x", module}).exit, 2);
}

TEST_F(ControlServerTest, AModulePathWithAQuoteStaysOneText) {
    const fs::path folder = folder_.root() / "it's here";
    fs::create_directories(folder);
    const fs::path module = folder / "ORVAGM_XRUsbKey.so";
    fs::copy_file(controlModule(), module);
    ASSERT_EQ(regsvr({module.string()}).exit, 0);
    EXPECT_EQ(classesRoot(), registeredKeys(module.string()));
    // And the class is created from there.
    EXPECT_EQ(tools::callByName(kProgId, "GetVersion", {}).result, "1.0.0.0");
}

// A module of the server, loaded the way COM loads it.
struct ServerModule {
    explicit ServerModule(const fs::path& path) : module(LoadLibraryA(path.c_str())) {}
    ~ServerModule() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
    template <class F>
    F entry(const char* name) const {
        return reinterpret_cast<F>(GetProcAddress(module, name));
    }
    HMODULE module;
};

TEST_F(ControlServerTest, ACategoriesManagerThatCannotBeHadFailsRegistrationAfterTheScript) {
    const ServerModule server(controlModule());
    ASSERT_NE(server.module, nullptr);
    platform::failCategoriesManager(true);
    const HRESULT hr = server.entry<DllRegisterServerProc>("DllRegisterServer")();
    platform::failCategoriesManager(false);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    const std::string keys = classesRoot();
    EXPECT_NE(keys.find(kClassKey + "\\InprocServer32]"), std::string::npos);
    EXPECT_NE(keys.find(kLibrary + "\\1.0]"), std::string::npos);
    EXPECT_EQ(keys.find("Categories"), std::string::npos);
}

// An outer object that counts the references its inner object passes on.
struct OuterObject final : IUnknown {
    HRESULT QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

TEST_F(ControlServerTest, TheClassObjectMakesPlainAndAggregatedObjectsUnderTheModuleLock) {
    const ServerModule server(controlModule());
    ASSERT_NE(server.module, nullptr);
    const auto getClassObject = server.entry<DllGetClassObjectProc>("DllGetClassObject");
    const auto canUnloadNow = server.entry<DllCanUnloadNowProc>("DllCanUnloadNow");
    void* object = nullptr;
    EXPECT_EQ(getClassObject(CLSID_StdComponentCategoriesMgr, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(
        getClassObject(CLSID_orva_usbkey, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);

    OuterObject outer;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
              S_OK);
    // From here the aggregated object alone holds the module.
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    // The interfaces the inner object hands out count on the outer object.
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(outer.refs, 2u);
    void* control = nullptr;
    EXPECT_EQ(dispatch->QueryInterface(IID_Iorva_usbkey, &control), E_NOINTERFACE);
    dispatch->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(inner->QueryInterface(IID_Iorva_usbkey, &control), S_OK);
    EXPECT_EQ(control, static_cast<void*>(dispatch));
    static_cast<IUnknown*>(control)->Release();
    EXPECT_EQ(inner->QueryInterface(IID_IClassFactory, &object), E_NOINTERFACE);
    inner->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);

    // A server lock, on top of the class object's own.
    ASSERT_EQ(
        getClassObject(CLSID_orva_usbkey, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
    factory->LockServer(TRUE);
    factory->LockServer(TRUE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// A script host keeps the class factory, or the type information, after its
// last object is gone: the module stays until that is released too, and then
// unloads whole.
TEST_F(ControlServerTest, TheModuleStaysWhileAClientHoldsItsFactoryOrTypeInformation) {
    const fs::path module = folder_.root() / "ORVAGM_XRUsbKey.so";
    fs::copy_file(controlModule(), module);
    for (const bool keepTypeInfo : {false, true}) {
        SCOPED_TRACE(keepTypeInfo ? "type information kept" : "class factory kept");
        auto* server = new ServerModule(module);
        const auto canUnloadNow = server->entry<DllCanUnloadNowProc>("DllCanUnloadNow");
        IClassFactory* factory = nullptr;
        ASSERT_EQ(server->entry<DllGetClassObjectProc>("DllGetClassObject")(
                      CLSID_orva_usbkey, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
                  S_OK);
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        IDispatch* object = nullptr;
        ASSERT_EQ(
            factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)),
            S_OK);
        ITypeInfo* info = nullptr;
        if (keepTypeInfo) {
            ASSERT_EQ(object->GetTypeInfo(0, 0, &info), S_OK);
            factory->Release();
        }
        object->Release();
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        if (keepTypeInfo) {
            // Still served from the module's table.
            BSTR help = nullptr;
            EXPECT_EQ(info->GetDocumentation(9, nullptr, &help, nullptr, nullptr), S_OK);
            EXPECT_EQ(tools::utf8Of(help, SysStringLen(help)), "method GetVersion");
            SysFreeString(help);
            info->Release();
        } else {
            factory->Release();
        }
        EXPECT_EQ(canUnloadNow(), S_OK);
        delete server;
        EXPECT_EQ(GetModuleHandleA(module.c_str()), nullptr);
    }
}

TEST_F(ControlServerTest, UnloadingTheModuleFreesTheLibraryOnlyWhenAMethodBoundIt) {
    // Copies of their own, so that no other test's module stands in.
    const fs::path apiFolder = folder_.root() / "api";
    fs::create_directories(apiFolder);
    fs::copy_file(frontend::test::fakeApiFolder() / "ORVA_API.so", apiFolder / "ORVA_API.so");
    const fs::path module = folder_.root() / "ORVAGM_XRUsbKey.so";
    fs::copy_file(controlModule(), module);
    folder_.write("registry.reg", frontend::test::providerRegistry(apiFolder, false));
    const std::string api = (apiFolder / "ORVA_API.so").string();

    for (const bool bind : {false, true}) {
        SCOPED_TRACE(bind ? "bound" : "never bound");
        auto* server = new ServerModule(module);
        IClassFactory* factory = nullptr;
        ASSERT_EQ(server->entry<DllGetClassObjectProc>("DllGetClassObject")(
                      CLSID_orva_usbkey, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
                  S_OK);
        Iorva_usbkey* control = nullptr;
        ASSERT_EQ(
            factory->CreateInstance(nullptr, IID_Iorva_usbkey, reinterpret_cast<void**>(&control)),
            S_OK);
        BSTR text = nullptr;
        EXPECT_EQ(bind ? control->GetMediaID(&text) : control->GetVersion(&text), S_OK);
        SysFreeString(text);
        control->Release();
        factory->Release();
        EXPECT_EQ(GetModuleHandleA(api.c_str()) != nullptr, bind);
        delete server;
        EXPECT_EQ(GetModuleHandleA(api.c_str()), nullptr);
        EXPECT_EQ(GetModuleHandleA(module.c_str()), nullptr);
    }
}

}  // namespace
}  // namespace orva::control::test
