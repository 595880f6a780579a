// Transaction and file signing.

#include <climits>

#include "methods.h"

namespace orva::npapi_plugin {

namespace {

// What the three signing methods take first, in their order of checking:
// the count, the hash name, the two texts by the charset rule, the signer.
struct Signing {
    std::string hashName;
    SigningTexts texts;
    std::string signer;
};

Signing signingArguments(const Arguments& args, uint32_t count) {
    args.require(count);
    std::string hashName = args.boundedText(1, 32);
    SigningTexts texts = signingTexts(args, 2, 3);
    return {std::move(hashName), std::move(texts), args.text(0)};
}

}  // namespace

void gmUsbKeySign(const MethodCall& call) {
    const auto [hashName, texts, signer] = signingArguments(call.args, 5);
    // An empty attachment is no attachment.
    const std::optional<frontend::ConvertedText> attachment =
        call.args.string(4).empty() ? std::nullopt : std::optional(call.args.path(4));
    const char* attachmentPath = attachment ? attachment->c_str() : nullptr;

    // The size first, then the signature into a buffer one byte longer.
    int size = 0;
    const ApiErrorCode code{call.api.GMUsbKeySign(
        signer.c_str(), hashName.c_str(), texts.transaction.c_str(), texts.transactionLength,
        attachmentPath, texts.display.c_str(), nullptr, nullptr, &size)};
    if (code != kSuccess) {
        throw MethodAnswer{code};
    }
    // A size the library cannot have meant is its failure, not an empty signature.
    if (size <= 0) {
        throw MethodAnswer{kOperationFailed};
    }
    if (size == INT_MAX) {
        throw MethodAnswer{kMallocFailed};
    }
    auto output = frontend::OutputBuffer::required(static_cast<std::size_t>(size) + 1);
    *output.length() = size;
    answerOutput(
        call.self, call.result,
        call.api.GMUsbKeySign(signer.c_str(), hashName.c_str(), texts.transaction.c_str(),
                              texts.transactionLength, attachmentPath, texts.display.c_str(),
                              nullptr, output.data(), output.length()),
        output);
}

void gmUsbKeySignFile(const MethodCall& call) {
    const auto [hashName, texts, signer] = signingArguments(call.args, 6);
    const frontend::ConvertedText fileToSign = call.args.path(4);
    const frontend::ConvertedText signatureFile = call.args.path(5);
    answerCode(call.result, call.api.GMUsbKeySign(
                                signer.c_str(), hashName.c_str(), texts.transaction.c_str(),
                                texts.transactionLength, fileToSign.c_str(), texts.display.c_str(),
                                signatureFile.c_str(), nullptr, nullptr));
}

void gmUsbKeySignFileExt(const MethodCall& call) {
    const auto [hashName, texts, signer] = signingArguments(call.args, 5);
    const std::string fileToken = call.args.text(4);
    // 8192 bytes with one more zero byte behind them.
    auto output = frontend::OutputBuffer::required(8192, 1);
    answerOutput(
        call.self, call.result,
        call.api.GMUsbKeySignFileExt(signer.c_str(), hashName.c_str(), texts.transaction.c_str(),
                                     texts.transactionLength, texts.display.c_str(),
                                     fileToken.c_str(), output.data(), output.length()),
        output);
}

}  // namespace orva::npapi_plugin
