// The public-key and container queries that take arguments or answer a number.

#include "methods.h"

namespace orva::npapi_plugin {

void gmGetPublicKey(const MethodCall& call) {
    const std::string keyType = call.args.boundedText(0, 16);
    auto output = frontend::OutputBuffer::required(8192);
    answerOutput(call.self, call.result,
                 call.api.GMGetPubkeyInfo(keyType.c_str(), output.data(), output.length()), output);
}

void gmGetPublicKeyC(const MethodCall& call) {
    call.args.require(3);
    const std::string keyType = call.args.boundedText(0, 16);
    const std::string dnOrId = call.args.boundedText(1, 256);
    const std::string serverRandom = call.args.boundedText(2, 256);
    auto output = frontend::OutputBuffer::required(8192);
    answerOutput(call.self, call.result,
                 call.api.GMGetPubkeyInfoC(keyType.c_str(), dnOrId.c_str(), serverRandom.c_str(),
                                           output.data(), output.length()),
                 output);
}

void gmJudgeAndDelOlderDn(const MethodCall& call) {
    int deleted = 0;
    answerCode(call.result, call.api.GMJudgeAndDelOlderDN(&deleted));
}

void getPublicKeyNum(const MethodCall& call) {
    int count = 0;
    const ApiErrorCode code{call.api.GetPublicKeyNum(&count)};
    answerCode(call.result, code == kSuccess ? count : code.number());
}

}  // namespace orva::npapi_plugin
