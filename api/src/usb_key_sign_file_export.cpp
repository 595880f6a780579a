// QZAPI_GMUsbKeySignFileExt: a transaction signed on the key with the chosen
// file attached; the signature goes to a signature file, whose token comes
// back.

#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "attached_file.h"
#include "export_guard.h"
#include "file_token.h"
#include "orva_api.h"
#include "signature_file.h"
#include "sized_output.h"
#include "usb_key_sign.h"

using namespace orva::api;

namespace {

bool isEmpty(const char* text) noexcept {
    return text == nullptr || *text == '\0';
}

}  // namespace

extern "C" int QZAPI_GMUsbKeySignFileExt(const char* signerDn, const char* hashName,
                                         const char* xmlMessage, int xmlMessageLength,
                                         const char* keyMessage, const char* chooseFileToken,
                                         char* buffer, int* length) {
    return guardedExport([&] {
        FileTokenState& state = fileTokenState();
        state.signedFile.reset();
        if (xmlMessageLength == 0 || isEmpty(keyMessage) || isEmpty(chooseFileToken) ||
            length == nullptr) {
            return orva::kInvalidParameter;
        }
        // Read no further than one character past a token's length.
        const std::string_view token(chooseFileToken,
                                     strnlen(chooseFileToken, kFileTokenDigits + 1));
        if (token.size() != kFileTokenDigits) {
            return orva::kTokenInfoError;
        }
        Result<ResolvedFile> resolved = resolveFileToken(token, FileTokenKeyName::filePath);
        if (!resolved) {
            return resolved.code();
        }
        // The key signs the file just checked, through the descriptor it was
        // digested through, never what its path leads to later.
        const std::string& signedPath = resolved->path;
        AttachedFile signedFile(signedPath, std::move(resolved->file));
        // Inside the key's session: the signature file, and its record.
        const FileModeTail writeSignature = [&](std::string_view signature) {
            Result<SignatureFile> written = writeSignatureFile(signedPath, signature);
            if (!written) {
                return written.code();
            }
            const std::string& signaturePath = written->path;
            const std::optional<FileTokenSalt> salt = drawFileTokenSalt();
            if (!salt) {
                return orva::kOperationFailed;
            }
            // Of the bytes written, read back through the descriptor they
            // were written through.
            const Result<FileToken> signatureToken =
                buildFileToken(FileTokenMode::chosen, signaturePath, written->file, *salt,
                               FileTokenKeyName::fileName);
            if (!signatureToken) {
                return signatureToken.code();
            }
            state.signedFile =
                makeFileTokenRecord(*signatureToken, *salt, signaturePath, FileTokenMode::chosen);
            return orva::kSuccess;
        };
        // The key signs before the buffer is looked at, on a size query too.
        if (const orva::ApiErrorCode code =
                runUsbKeySign({signerDn, hashName, xmlMessage, xmlMessageLength, signedPath.c_str(),
                               keyMessage, nullptr, nullptr, nullptr},
                              &writeSignature, &signedFile);
            code != orva::kSuccess) {
            return code;
        }
        return sizedOutput(state.signedFile->tokenText, buffer, length);
    });
}
