// File tokens and a signed file's content in pieces.

#include <climits>

#include "bounded_output.h"
#include "methods.h"

namespace orva::npapi_plugin {

void nsFileToTokenExt(const MethodCall& call) {
    const frontend::ConvertedText path = call.args.path(0);
    auto output = frontend::OutputBuffer::required(4096);
    answerOutput(call.self, call.result,
                 call.api.FileToTokenExt(path.c_str(), output.data(), output.length()), output);
}

void getSignFileContent(const MethodCall& call) {
    call.args.require(3);
    const std::string token = call.args.text(0);
    if (token.empty()) {
        throw MethodAnswer{kInvalidParameter};
    }
    const int32_t maxLength = call.args.number(1);
    const int32_t offset = call.args.number(2);
    if (maxLength <= 0) {
        throw MethodAnswer{kInvalidParameter};
    }
    // Room for the piece and what the library adds around it, within an int.
    constexpr int32_t kRoomAround = 64;
    if (maxLength > INT_MAX - kRoomAround) {
        throw MethodAnswer{kMallocFailed};
    }
    const ApiErrorCode code = frontend::callForPiece(
        static_cast<std::size_t>(maxLength) + kRoomAround, [&](std::size_t size) {
            auto output = frontend::OutputBuffer::required(size);
            const ApiErrorCode tried{call.api.GetSignFileContent(token.c_str(), maxLength, offset,
                                                                 output.data(), output.length())};
            if (tried == kSuccess) {
                answerText(call.self, call.result, output.reportedText());
            }
            return frontend::PieceAttempt{tried, *output.length()};
        });
    if (code != kSuccess) {
        answerCode(call.result, code);
    }
}

}  // namespace orva::npapi_plugin
