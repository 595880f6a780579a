// The kept values pages may read back, and the version.

#include "command_set.h"
#include "methods.h"

namespace orva::npapi_plugin {

void getLongValue(const MethodCall& call) {
    answerCode(call.result, call.self.heldInteger());
    call.self.heldInteger() = 0;
}

template <int Slot>
void getStrValue(const MethodCall& call) {
    HeldResult& held = call.self.held(Slot);
    const std::string_view text =
        held.text != nullptr
            ? std::string_view(held.text, static_cast<std::size_t>(std::max(held.length, 0)))
            : std::string_view();
    if (!answerString(call.result, text)) {
        answerCode(call.result, kMallocFailed);
    }
    call.self.ReleaseHeldResult(held);
}
template void getStrValue<0>(const MethodCall&);
template void getStrValue<1>(const MethodCall&);
template void getStrValue<2>(const MethodCall&);

void getVersion(const MethodCall& call) {
    answerText(call.self, call.result, frontend::kFrontEndVersion);
}

void freeBuffer(const MethodCall& call) {
    for (int slot = 0; slot < 3; ++slot) {
        call.self.ReleaseHeldResult(call.self.held(slot));
    }
    answerCode(call.result, kSuccess);
}

}  // namespace orva::npapi_plugin
