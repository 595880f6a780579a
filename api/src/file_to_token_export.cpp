// QZAPI_FileToTokenExt: a token for a file the page names.

#include <optional>
#include <string>

#include "device_session.h"
#include "export_guard.h"
#include "file_token.h"
#include "orva_api.h"
#include "sized_output.h"

using namespace orva::api;

extern "C" int QZAPI_FileToTokenExt(const char* path, char* buffer, int* length) {
    return guardedExport([&] {
        FileTokenState& state = fileTokenState();
        state.chosenFile.reset();
        // A page that probes for files is stopped for good.
        if (state.failedOpens >= kFailedOpenLimit) {
            return orva::kNoFileLocked;
        }
        if (path == nullptr || *path == '\0' || length == nullptr) {
            return orva::kInvalidParameter;
        }
        // The key must be present, although the token does not use it.
        DeviceSession session;
        if (const orva::ApiErrorCode code = session.open(); code != orva::kSuccess) {
            return code;
        }
        const std::optional<FileTokenSalt> salt = drawFileTokenSalt();
        if (!salt) {
            return orva::kOperationFailed;
        }
        const Result<FileToken> token =
            buildFileToken(FileTokenMode::named, path, *salt, FileTokenKeyName::filePath);
        if (!token) {
            if (token.code() == orva::kOpenFileError) {
                ++state.failedOpens;
            }
            return token.code();
        }
        state.chosenFile = makeFileTokenRecord(*token, *salt, path, FileTokenMode::named);
        return sizedOutput(token->text, buffer, length);
    });
}
