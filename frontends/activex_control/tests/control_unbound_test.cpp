// The control while the token API library cannot be bound: every method but
// GetVersion answers kDriverNotInstalled with its preset, and a later call binds.

#include "control_test_support.h"
#include "orva_usbkey.h"

namespace orva::control::test {
namespace {

class UnboundControlTest : public ControlTest {
  protected:
    UnboundControlTest() : ControlTest(fs::path()) {}
};

TEST_F(UnboundControlTest, MethodsAnswerDriverNotInstalledUntilTheLibraryIsFound) {
    const std::string unbound = "error -101 (0xFFFFFF9B): DRIVER NOT INSTALL";
    for (const com::MethodDescription& method : kUsbKeyInterface.methods) {
        SCOPED_TRACE(method.name);
        // Empty texts and zeros for the arguments.
        std::vector<std::string> args;
        for (const com::ParamDescription& param : method.params) {
            args.push_back(param.type == com::ParamType::text ? "str:x" : "1");
        }
        std::string line;
        tools::describeOutcome(invoke(method.name, args), &line);
        EXPECT_EQ(line, method.id == 9 ? "1.0.0.0" : unbound);
    }

    // The client program says the same, and tells a failed method from a call
    // it could not make.
    const std::string client = (frontend::test::binFolder() / "com-call").string();
    const orva::testing::ProgramResult failed =
        orva::testing::runProgram(client, {std::string(kProgId), "GetMediaID"});
    EXPECT_EQ(failed.exit, 1);
    EXPECT_EQ(failed.err, unbound + "\n");
    const orva::testing::ProgramResult unknown =
        orva::testing::runProgram(client, {std::string(kProgId), "NoSuchMethod"});
    EXPECT_EQ(unknown.exit, 2);
    EXPECT_EQ(unknown.err, "GetIDsOfNames failed: 0x80020006\n");

    // Through the vtable: the empty text, and each INT's preset.
    Iorva_usbkey* control = create<Iorva_usbkey>(IID_Iorva_usbkey);
    ASSERT_NE(control, nullptr);
    BSTR text = nullptr;
    EXPECT_EQ(control->GetMediaID(&text), static_cast<HRESULT>(0xFFFFFF9Bu));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 0u);
    SysFreeString(text);
    struct Preset {
        const char* method;
        HRESULT (*call)(Iorva_usbkey&, INT*);
        INT value;
    };
    const Preset presets[] = {
        {"GMDelTempKey",
         [](Iorva_usbkey& c, INT* n) { return c.GMDelTempKey(nullptr, nullptr, n); },
         kNoDevice.number()},
        {"SetCharset", [](Iorva_usbkey& c, INT* n) { return c.SetCharset(nullptr, n); },
         kInvalidParameter.number()},
        {"GetPublicKeyNum", [](Iorva_usbkey& c, INT* n) { return c.GetPublicKeyNum(n); }, 0},
        {"CustInitCard", [](Iorva_usbkey& c, INT* n) { return c.CustInitCard(n); },
         kDriverNotInstalled.number()},
    };
    for (const Preset& preset : presets) {
        SCOPED_TRACE(preset.method);
        INT value = 12345;
        EXPECT_EQ(preset.call(*control, &value), kDriverNotInstalled);
        EXPECT_EQ(value, preset.value);
    }

    // The provider appears: the next call binds.
    folder_.write("registry.reg",
                  folder_.read("registry.reg") + "\n" +
                      frontend::test::providerRegistry(frontend::test::fakeApiFolder(), false)
                          .substr(std::string("REGEDIT4\n").size()));
    EXPECT_EQ(invoke("GetMediaID").result, "GetDevSN");
    control->Release();
}

}  // namespace
}  // namespace orva::control::test
