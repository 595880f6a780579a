// Transaction signing, file signing and file-token methods.

#include <climits>
#include <cstdint>

#include "bounded_output.h"
#include "bstr_text.h"
#include "method_support.h"
#include "orva_usbkey.h"

namespace orva::control {

namespace {

constexpr std::size_t kTokenText = 2048;
constexpr std::size_t kSignedTokenText = 8192;
// Room GetSignFileContent's text needs beyond the bytes asked for.
constexpr std::int64_t kContentMargin = 64;

// The texts every signing method takes, converted by the control's rules.
struct SigningTexts {
    ExportText signerDn;
    ExportText hashName;
    ExportText transaction;
    ExportText display;

    SigningTexts(BSTR dn, BSTR hash, BSTR xml, BSTR keyMsg)
        : signerDn(bstrToCharset(dn, "UTF-8")),
          hashName(bstrToAnsi(hash)),
          transaction(bstrToCharset(xml, controlState().charset.name())),
          display(bstrToCharset(keyMsg, controlState().charset.name())) {}

    // The transaction text is required, and its length must be an int.
    bool transactionUsable() const noexcept {
        return !transaction.isEmpty() && transaction.length() <= INT_MAX;
    }
    int transactionLength() const noexcept { return static_cast<int>(transaction.length()); }
};

}  // namespace

HRESULT OrvaUsbKey::GMUsbKeySign(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg,
                                 BSTR bstrKeyMsg, BSTR bstrNewVal, BSTR* pbstrSignature) {
    return runTextMethod(pbstrSignature, [&](const frontend::ApiFunctionTable& api) {
        const SigningTexts texts(bstrSignerDN, bstrHashName, bstrXmlMsg, bstrKeyMsg);
        // An empty BSTR is the empty path, a null one no path.
        const ExportText attachment = bstrToCharset(bstrNewVal, "CP_ACP");
        if (!texts.transactionUsable()) {
            return kInvalidParameter;
        }
        const auto sign = [&](char* buffer, int* length) {
            return api.GMUsbKeySign(texts.signerDn.get(), texts.hashName.get(),
                                    texts.transaction.get(), texts.transactionLength(),
                                    attachment.get(), texts.display.get(), nullptr, buffer, length);
        };
        // The size query first; then the signature into a buffer of that size.
        int length = 0;
        if (const ApiErrorCode code{sign(nullptr, &length)}; code != kSuccess) {
            return code;
        }
        if (length <= 0) {
            // A size query that names no size broke the library's convention.
            return kOperationFailed;
        }
        return textExport(pbstrSignature, static_cast<std::size_t>(length), OutputText::utf8, sign);
    });
}

HRESULT OrvaUsbKey::GMUsbKeySignFile(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg,
                                     BSTR bstrKeyMsg, BSTR bstrSignFilePath, BSTR bstrP7FilePath,
                                     INT* pnErrorNum) {
    return runIntMethod(pnErrorNum, std::nullopt, [&](const frontend::ApiFunctionTable& api) {
        const SigningTexts texts(bstrSignerDN, bstrHashName, bstrXmlMsg, bstrKeyMsg);
        const ExportText signFile = bstrToCharset(bstrSignFilePath, "CP_ACP");
        const ExportText p7File = bstrToCharset(bstrP7FilePath, "CP_ACP");
        if (!texts.transactionUsable() || signFile.isEmpty() || p7File.isEmpty()) {
            return kInvalidParameter;
        }
        return ApiErrorCode{api.GMUsbKeySign(texts.signerDn.get(), texts.hashName.get(),
                                             texts.transaction.get(), texts.transactionLength(),
                                             signFile.get(), texts.display.get(), p7File.get(),
                                             nullptr, nullptr)};
    });
}

HRESULT OrvaUsbKey::NSChooseFileExt(BSTR* pbstrchooseFileToken) {
    return runTextMethod(pbstrchooseFileToken, [&](const frontend::ApiFunctionTable& api) {
        return textExport(pbstrchooseFileToken, kTokenText, OutputText::ansi, api.ChooseFileExt);
    });
}

HRESULT OrvaUsbKey::NSFileToTokenExt(BSTR bstrFilePath, BSTR* pbstrchooseFileToken) {
    return runTextMethod(pbstrchooseFileToken, [&](const frontend::ApiFunctionTable& api) {
        const ExportText path = bstrToCharset(bstrFilePath, "CP_ACP");
        if (path.isEmpty()) {
            return kInvalidParameter;
        }
        return textExport(
            pbstrchooseFileToken, kTokenText, OutputText::ansi,
            [&](char* buffer, int* n) { return api.FileToTokenExt(path.get(), buffer, n); });
    });
}

HRESULT OrvaUsbKey::GMUsbKeySignFileExt(BSTR bstrSignerDN, BSTR bstrHashName, BSTR bstrXmlMsg,
                                        BSTR bstrKeyMsg, BSTR bstrchooseFileToken,
                                        BSTR* pbstrsignedFileToken) {
    return runTextMethod(pbstrsignedFileToken, [&](const frontend::ApiFunctionTable& api) {
        const SigningTexts texts(bstrSignerDN, bstrHashName, bstrXmlMsg, bstrKeyMsg);
        const ExportText token = bstrToAnsi(bstrchooseFileToken);
        if (!texts.transactionUsable() || token.isEmpty()) {
            return kInvalidParameter;
        }
        return textExport(
            pbstrsignedFileToken, kSignedTokenText, OutputText::utf8, [&](char* buffer, int* n) {
                return api.GMUsbKeySignFileExt(texts.signerDn.get(), texts.hashName.get(),
                                               texts.transaction.get(), texts.transactionLength(),
                                               texts.display.get(), token.get(), buffer, n);
            });
    });
}

HRESULT OrvaUsbKey::GetSignFileContent(BSTR bstrsignedFileToken, INT nmaxLength, INT nfileOffset,
                                       BSTR* pbstrReadFileInfo) {
    return runTextMethod(pbstrReadFileInfo, [&](const frontend::ApiFunctionTable& api) {
        const ExportText token = bstrToAnsi(bstrsignedFileToken);
        if (token.isEmpty() || nmaxLength == 0) {
            return kInvalidParameter;
        }
        // In 64 bits: the sum may pass INT_MAX, and the buffer's length is an int.
        const std::int64_t size = std::int64_t{nmaxLength} + kContentMargin;
        if (size <= 0 || size > INT_MAX) {
            return kMallocFailed;
        }
        return frontend::callForPiece(static_cast<std::size_t>(size), [&](std::size_t room) {
            auto buffer = frontend::OutputBuffer::required(room, 1);
            const ApiErrorCode code{api.GetSignFileContent(token.get(), nmaxLength, nfileOffset,
                                                           buffer.data(), buffer.length())};
            return frontend::PieceAttempt{
                code == kSuccess ? storeText(pbstrReadFileInfo, buffer.data(), OutputText::utf8)
                                 : code,
                *buffer.length()};
        });
    });
}

}  // namespace orva::control
