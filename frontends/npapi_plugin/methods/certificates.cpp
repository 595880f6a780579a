// Certificate requests and their installation.

#include "methods.h"

namespace orva::npapi_plugin {

void gmCreatePkcs10(const MethodCall& call) {
    const std::string description = call.args.text(0);
    auto output = frontend::OutputBuffer::required(8192);
    answerOutput(call.self, call.result,
                 call.api.GMCreatePKCS10(description.c_str(), output.data(), output.length()),
                 output);
}

void gmWritePkcs7(const MethodCall& call) {
    const std::string certificates = call.args.text(0);
    answerCode(call.result, call.api.GMWritePKCS7_Enc(certificates.c_str(), nullptr, nullptr));
}

void gmWritePkcs7Enc(const MethodCall& call) {
    call.args.require(3);
    const std::string certificates = call.args.text(0);
    const std::optional<std::string> keyPair =
        call.args.isString(1) ? std::optional(call.args.text(1)) : std::nullopt;
    const std::optional<std::string> serverRandom =
        call.args.isString(2) ? std::optional(call.args.text(2)) : std::nullopt;
    answerCode(call.result,
               call.api.GMWritePKCS7_Enc(certificates.c_str(), keyPair ? keyPair->c_str() : nullptr,
                                         serverRandom ? serverRandom->c_str() : nullptr));
}

}  // namespace orva::npapi_plugin
