// The control, registered in the test's registry and called by name through
// IDispatch as a script calls it: the HRESULT is the code, the [out,retval]
// the result, and a failure's description the product's text for its code.

#include <gtest/gtest.h>

#include "com_call.h"
#include "front_end.h"
#include "frontend_test_support.h"
#include "orva_result_codes.h"
#include "regsvr.h"

namespace orva::conformance {

namespace {

class ControlFrontEnd : public FrontEnd {
  public:
    ControlFrontEnd() {
        const tools::RegsvrOutcome registered =
            tools::runRegsvr({(frontend::test::binFolder() / "ORVAGM_XRUsbKey.so").string()});
        EXPECT_EQ(registered.exitCode, 0) << registered.message;
    }

    std::string call(const PageCall& call) override {
        // Typed as com-call types a script's values: "str:" keeps digits a string.
        std::vector<std::string> args;
        for (const PageArg& arg : call.args) {
            if (const auto* text = std::get_if<std::string>(&arg.value)) {
                args.push_back("str:" + *text);
            } else if (const auto* number = std::get_if<int32_t>(&arg.value)) {
                args.push_back(std::to_string(*number));
            } else {
                args.push_back("undefined");
            }
        }
        const tools::CallOutcome outcome =
            tools::callByName("Orva_usbkey_ctrl.orva_usbkey", call.command, args);
        if (SUCCEEDED(outcome.hr)) {
            return outcome.result;
        }
        EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION) << outcome.step;
        EXPECT_EQ(outcome.description, resultCodeText(outcome.scode)) << outcome.scode;
        return std::to_string(outcome.scode);
    }
};

}  // namespace

std::unique_ptr<FrontEnd> makeControlFrontEnd() {
    return std::make_unique<ControlFrontEnd>();
}

}  // namespace orva::conformance
