// The plug-in's entry points, its instances and their windows, driven by the
// stand-in browser over the recording stand-in library.

#include <dlfcn.h>

#include <list>

#include "orva/display_list.h"
#include "plugin_file.h"
#include "plugin_test_support.h"

namespace orva::npapi_plugin::test {
namespace {

using npapi_host::PluginModule;

constexpr const char* kInitializeLines = "NP_Initialize() called\nNPAPI LoadLib_Log failed\n";
constexpr std::string_view kDisplayText = "application/x-orva-ukey-ctrl-korvane:version=1.0.0.0";

// The plug-in started by hand, so each step can be looked at.
class EntryTest : public FakeApiPluginTest {
  protected:
    EntryTest() : module_(pluginPath()) {
        plugin_.size = sizeof plugin_;
        EXPECT_EQ(module_.getEntryPoints(&plugin_), NPERR_NO_ERROR);
        functions_ = browser_.functions();
    }
    ~EntryTest() override {
        for (NPP_t& npp : instances_) {
            EXPECT_EQ(plugin_.destroy(&npp, nullptr), NPERR_NO_ERROR);
        }
        for (HWND window : windows_) {
            DestroyWindow(window);
        }
        EXPECT_EQ(module_.shutdown(), NPERR_NO_ERROR);
    }

    NPError initialize() { return module_.initialize(&functions_); }
    NPError newInstance(NPP_t& npp) {
        return plugin_.newp(nullptr, &npp, 1, 0, nullptr, nullptr, nullptr);
    }
    NPP_t& started() {
        EXPECT_EQ(initialize(), NPERR_NO_ERROR);
        instances_.emplace_back();
        EXPECT_EQ(newInstance(instances_.back()), NPERR_NO_ERROR);
        return instances_.back();
    }
    // A window whose own procedure counts the messages it gets.
    HWND window() {
        windows_.push_back(
            CreateWindowExA(0, "page", "", 0, 0, 0, 480, 40, nullptr, nullptr, nullptr, nullptr));
        SetWindowLongPtrA(windows_.back(), GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(&countingProcedure));
        return windows_.back();
    }
    static LRESULT countingProcedure(HWND, UINT, WPARAM, LPARAM) {
        ++ownProcedureCalls;
        return 0;
    }
    static WNDPROC procedureOf(HWND window) {
        return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    }

    static inline int ownProcedureCalls = 0;
    PluginModule module_;
    NPPluginFuncs plugin_{};
    NPNetscapeFuncs functions_{};
    std::list<NPP_t> instances_;
    std::vector<HWND> windows_;
};

TEST_F(EntryTest, TheVersionBlockNamesTheMimeType) {
    EXPECT_EQ(npapi_host::pluginMimeType(pluginPath()), "application/orva-firefox-XR-plugin");
    EXPECT_EQ(npapi_host::pluginMimeType((frontend::test::binFolder() / "libplatform.so").string()),
              "");
}

TEST_F(EntryTest, GetEntryPointsNeedsATableThatReachesItsLastSlot) {
    NPPluginFuncs table{};
    table.size = sizeof table - 1;
    EXPECT_EQ(module_.getEntryPoints(&table), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ(table.version, 0);
    EXPECT_EQ(table.newp, nullptr);
    EXPECT_EQ(module_.getEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    // The fixture's table of 120 bytes.
    EXPECT_EQ(plugin_.version, 22);
    EXPECT_EQ(plugin_.javaClass, nullptr);
    const auto set = [](auto slot) { return slot != nullptr; };
    for (const bool present :
         {set(plugin_.newp), set(plugin_.destroy), set(plugin_.setwindow), set(plugin_.newstream),
          set(plugin_.destroystream), set(plugin_.asfile), set(plugin_.writeready),
          set(plugin_.write), set(plugin_.print), set(plugin_.event), set(plugin_.urlnotify),
          set(plugin_.getvalue), set(plugin_.setvalue)}) {
        EXPECT_TRUE(present);
    }
}

TEST_F(EntryTest, InitializeChecksTheBrowsersTable) {
    struct Row {
        const char* what;
        void (*change)(NPNetscapeFuncs&);
        NPError code;
    };
    const Row rows[] = {
        {"newer major version", [](NPNetscapeFuncs& t) { t.version = 0x0100; }, 8},
        {"short of setexception", [](NPNetscapeFuncs& t) { t.size = 327; }, 3},
        {"no memalloc", [](NPNetscapeFuncs& t) { t.memalloc = nullptr; }, 3},
        {"no releaseobject", [](NPNetscapeFuncs& t) { t.releaseobject = nullptr; }, 3},
        {"as given", [](NPNetscapeFuncs&) {}, 0},
    };
    for (const Row& row : rows) {
        NPNetscapeFuncs table = browser_.functions();
        row.change(table);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(module_.initialize(&table), row.code) << row.what;
        // The logging library is tried first, whatever the table.
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), kInitializeLines) << row.what;
    }
    EXPECT_EQ(module_.initialize(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
}

TEST_F(EntryTest, NewBindsTheLibraryAndAsksForTheMethodNames) {
    ASSERT_EQ(initialize(), NPERR_NO_ERROR);
    EXPECT_EQ(plugin_.newp(nullptr, nullptr, 1, 0, nullptr, nullptr, nullptr),
              NPERR_INVALID_INSTANCE_ERROR);
    // No registration: the library cannot be found, and nothing is made.
    folder_.write("registry.reg", "REGEDIT4\n");
    NPP_t npp{};
    EXPECT_EQ(newInstance(npp), NPERR_MODULE_LOAD_FAILED_ERROR);
    EXPECT_EQ(npp.pdata, nullptr);
    // A library lacking an export is refused and not kept loaded.
    folder_.write("registry.reg",
                  frontend::test::providerRegistry(frontend::test::fakeApiLackingFolder(), false));
    EXPECT_EQ(newInstance(npp), NPERR_MODULE_LOAD_FAILED_ERROR);
    const std::string lacking = (frontend::test::fakeApiLackingFolder() / "ORVA_API.so").string();
    EXPECT_EQ(dlopen(lacking.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    // The next instance tries again.
    folder_.write("registry.reg",
                  frontend::test::providerRegistry(frontend::test::fakeApiFolder(), false));
    instances_.emplace_back();
    EXPECT_EQ(newInstance(instances_.back()), NPERR_NO_ERROR);
    EXPECT_NE(instances_.back().pdata, nullptr);
    EXPECT_EQ(browser_.identifierRequests(), 38u);
}

TEST_F(EntryTest, TheWindowIsAttachedOnceAndPaintsTheText) {
    NPP_t& npp = started();
    NPP_t stranger{};
    NPWindow none{};
    EXPECT_EQ(plugin_.setwindow(nullptr, &none), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin_.setwindow(&npp, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(plugin_.setwindow(&stranger, &none), NPERR_GENERIC_ERROR);
    // No window yet: nothing attached.
    EXPECT_EQ(plugin_.setwindow(&npp, &none), NPERR_NO_ERROR);
    HWND first = window();
    HWND second = window();
    NPWindow firstWindow{first, 0, 0, 480, 40, {0, 0, 40, 480}, NPWindowTypeWindow};
    NPWindow secondWindow{second, 0, 0, 480, 40, {0, 0, 40, 480}, NPWindowTypeWindow};
    EXPECT_EQ(plugin_.setwindow(&npp, &firstWindow), NPERR_NO_ERROR);
    EXPECT_EQ(plugin_.setwindow(&npp, &secondWindow), NPERR_NO_ERROR);
    EXPECT_NE(procedureOf(first), &countingProcedure);
    EXPECT_EQ(procedureOf(second), &countingProcedure);

    ownProcedureCalls = 0;
    SendMessageA(first, WM_PAINT, 0, 0);
    EXPECT_EQ(ownProcedureCalls, 0);
    const DisplayList painted = windowDisplayList(first);
    ASSERT_TRUE(painted.complete);
    ASSERT_EQ(painted.records.size(), 2u);
    const PaintRecord& frame = painted.records[0];
    EXPECT_EQ(frame.kind, PaintRecord::Kind::frame);
    EXPECT_EQ(frame.brush, GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(frame.rect.right, 480);
    EXPECT_EQ(frame.rect.bottom, 40);
    const PaintRecord& text = painted.records[1];
    EXPECT_EQ(text.kind, PaintRecord::Kind::text);
    EXPECT_EQ(text.text, kDisplayText);
    EXPECT_EQ(text.format, 0x25u);
    // 52 cells of 8 centred in 480, one cell of 16 in 40.
    EXPECT_EQ(text.originX, 32);
    EXPECT_EQ(text.originY, 12);

    // Destroyed: the window's own procedure is back and it forgets the instance.
    NPP_t& same = npp;
    EXPECT_EQ(plugin_.destroy(&same, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(same.pdata, nullptr);
    EXPECT_EQ(procedureOf(first), &countingProcedure);
    EXPECT_EQ(GetWindowLongPtrA(first, GWLP_USERDATA), 0);
}

TEST_F(EntryTest, EachInstanceGivesItsWindowItsOwnProcedureBack) {
    NPP_t& one = started();
    NPP_t& two = started();
    HWND first = window();
    HWND second = window();
    static LRESULT (*const otherProcedure)(
        HWND, UINT, WPARAM, LPARAM) = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 1; };
    SetWindowLongPtrA(second, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(otherProcedure));
    NPWindow a{first, 0, 0, 480, 40, {}, NPWindowTypeWindow};
    NPWindow b{second, 0, 0, 480, 40, {}, NPWindowTypeWindow};
    plugin_.setwindow(&one, &a);
    plugin_.setwindow(&two, &b);
    EXPECT_EQ(plugin_.destroy(&one, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(procedureOf(first), &countingProcedure);
    EXPECT_NE(procedureOf(second), otherProcedure);
    EXPECT_EQ(plugin_.destroy(&two, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(procedureOf(second), otherProcedure);
}

TEST_F(EntryTest, TwoInstancesOnOneWindowLeaveItNeverPaintingFromAFreedInstance) {
    NPP_t& one = started();
    NPP_t& two = started();
    HWND shared = window();
    NPWindow w{shared, 0, 0, 480, 40, {}, NPWindowTypeWindow};
    plugin_.setwindow(&one, &w);
    plugin_.setwindow(&two, &w);
    EXPECT_EQ(plugin_.destroy(&two, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(GetWindowLongPtrA(shared, GWLP_USERDATA), 0);
    // Still the plug-in's procedure: a frame, and no text from a freed instance.
    SendMessageA(shared, WM_PAINT, 0, 0);
    EXPECT_EQ(windowDisplayList(shared).records.size(), 1u);
    EXPECT_EQ(plugin_.destroy(&one, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(procedureOf(shared), &countingProcedure);
}

TEST_F(EntryTest, ValuesNamesAndTheScriptableObject) {
    NPP_t& npp = started();
    const char* text = nullptr;
    EXPECT_EQ(plugin_.getvalue(&npp, NPPVpluginNameString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "npqzorva");
    EXPECT_EQ(plugin_.getvalue(&npp, NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "ORVA UKEY Ctrl for firefox(Korvane)");
    EXPECT_EQ(plugin_.getvalue(&npp, static_cast<NPPVariable>(3), &text), NPERR_GENERIC_ERROR);
    EXPECT_EQ(plugin_.getvalue(nullptr, NPPVpluginNameString, &text), NPERR_INVALID_INSTANCE_ERROR);
    NPP_t stranger{};
    EXPECT_EQ(plugin_.getvalue(&stranger, NPPVpluginNameString, &text), NPERR_GENERIC_ERROR);

    // Created once; each answer is one more reference for the browser to release.
    NPObject* first = nullptr;
    NPObject* second = nullptr;
    EXPECT_EQ(plugin_.getvalue(&npp, NPPVpluginScriptableNPObject, &first), NPERR_NO_ERROR);
    EXPECT_EQ(plugin_.getvalue(&npp, NPPVpluginScriptableNPObject, &second), NPERR_NO_ERROR);
    EXPECT_EQ(first, second);
    EXPECT_EQ(browser_.referenceCount(first), 3u);
    browser_.releaseObject(first);
    browser_.releaseObject(second);
    EXPECT_EQ(browser_.referenceCount(first), 1u);

    // No object to be had is no memory, not success.
    NPP_t& other = started();
    browser_.failObjectCreation(true);
    NPObject* none = nullptr;
    EXPECT_EQ(plugin_.getvalue(&other, NPPVpluginScriptableNPObject, &none),
              NPERR_OUT_OF_MEMORY_ERROR);
    EXPECT_EQ(none, nullptr);
    browser_.failObjectCreation(false);
}

TEST_F(EntryTest, StreamsAndEventsAreAcceptedAndDropped) {
    NPP_t& npp = started();
    EXPECT_EQ(plugin_.newstream(nullptr, nullptr, nullptr, 0, nullptr),
              NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin_.newstream(&npp, nullptr, nullptr, 0, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(plugin_.destroystream(nullptr, nullptr, 0), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin_.destroystream(&npp, nullptr, 0), NPERR_NO_ERROR);
    EXPECT_EQ(plugin_.setvalue(nullptr, 0, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin_.setvalue(&npp, 0, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(plugin_.writeready(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin_.writeready(&npp, nullptr), 0x0FFFFFFF);
    char data[4096] = {};
    EXPECT_EQ(plugin_.write(&npp, nullptr, 0, sizeof data, data), 4096);
    EXPECT_EQ(plugin_.write(nullptr, nullptr, 0, sizeof data, data), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin_.event(nullptr, nullptr), 0);
    EXPECT_EQ(plugin_.destroy(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
}

TEST(PluginUnload, UnloadingThePluginFreesTheLibraryItBound) {
    TestFolder folder;
    folder.write("registry.reg",
                 frontend::test::providerRegistry(frontend::test::fakeApiFolder(), false));
    folder.setEnv("ORVA_REGISTRY", (folder.root() / "registry.reg").string());
    folder.setEnv("ORVA_FAKE_API_DIR", folder.root().string());
    const std::string library = (frontend::test::fakeApiFolder() / "ORVA_API.so").string();
    StandInBrowser browser;
    {
        PluginSession session(browser, pluginPath());
        EXPECT_EQ(session.invoke("GetVersion", {}).value, ScriptValue(std::string("1.0.0.0")));
        void* loaded = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_NE(loaded, nullptr);
        if (loaded != nullptr) {
            dlclose(loaded);
        }
    }
    EXPECT_EQ(dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    EXPECT_TRUE(browser.balanced());
}

}  // namespace
}  // namespace orva::npapi_plugin::test
