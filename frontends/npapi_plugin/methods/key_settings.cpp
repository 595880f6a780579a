// Settings of the key and of the plug-in, PIN handling and temporary keys.

#include "methods.h"
#include "plugin_charset.h"

namespace orva::npapi_plugin {

namespace {

// A String shorter than limit, anything else the empty text.
std::string textOrEmpty(const Arguments& args, uint32_t n, std::size_t limit) {
    return args.isString(n) ? args.boundedText(n, limit) : std::string();
}

}  // namespace

void gmDelTempKey(const MethodCall& call) {
    call.args.require(2);
    const std::string certDns = textOrEmpty(call.args, 0, 1024);
    const std::string publicKeyIds = textOrEmpty(call.args, 1, 64);
    answerCode(call.result, call.api.GMDelTempKey(certDns.c_str(), static_cast<int>(certDns.size()),
                                                  publicKeyIds.c_str()));
}

void custInitCard(const MethodCall& call) {
    answerCode(call.result, call.api.CustInitCard(nullptr, 0));
}

void changePin(const MethodCall& call) {
    answerCode(call.result, call.api.ChangePIN(nullptr, 0, nullptr, 0));
}

void setCharset(const MethodCall& call) {
    const std::string charset = call.args.boundedText(0, 128);
    // A name the plug-in could not keep is refused before the library takes it.
    if (charset.size() >= frontend::CurrentCharset::kRoom) {
        throw MethodAnswer{kInvalidParameter};
    }
    const ApiErrorCode code{call.api.SetCharset(charset.c_str())};
    if (code == kSuccess) {
        pluginCharset().store(charset);
    }
    answerCode(call.result, code);
}

void setLanguage(const MethodCall& call) {
    const std::string language = call.args.boundedText(0, 128);
    answerCode(call.result, call.api.SetDevLanguage(language.c_str()));
}

void setWarningMsg(const MethodCall& call) {
    const std::string warning = call.args.isString(0) ? call.args.text(0) : std::string();
    answerCode(call.result, call.api.SetWarningTips(warning.c_str()));
}

}  // namespace orva::npapi_plugin
