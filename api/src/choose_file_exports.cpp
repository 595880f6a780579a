// QZAPI_ChooseFileExt and QZAPI_ChooseFile: the user picks a file in the
// open-file dialog; a token for it comes back, or its path.

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "export_guard.h"
#include "file_token.h"
#include "orva_api.h"
#include "sized_output.h"
#include "win32/window.h"

namespace orva::api {
namespace {

constexpr std::size_t kDialogPathSize = 260;
// One entry, "(*.*)" for "*.*"; the array's own NUL ends the list.
constexpr char kAllFilesFilter[] = "(*.*)\0*.*\0";

// The dialog, owned by the foreground window: the chosen path, or none when it
// was cancelled or failed.
[[nodiscard]] std::optional<std::string> chooseFileInDialog() {
    std::array<char, kDialogPathSize> path{};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetForegroundWindow();
    dialog.lpstrFilter = kAllFilesFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&dialog)) {
        return std::nullopt;
    }
    return std::string(path.data(), strnlen(path.data(), path.size()));
}

}  // namespace
}  // namespace orva::api

using namespace orva::api;

extern "C" int QZAPI_ChooseFileExt(char* buffer, int* length) {
    return guardedExport([&] {
        // Whatever happens, the token handed out before is no longer valid.
        FileTokenState& state = fileTokenState();
        state.chosenFile.reset();
        // The dialog is shown on a size query too.
        return withSizedOutput(buffer, length, [&](std::string& text) {
            const std::optional<std::string> path = chooseFileInDialog();
            if (!path) {
                return orva::kUserCancel;
            }
            if (path->empty()) {
                return orva::kInvalidParameter;
            }
            const std::optional<FileTokenSalt> salt = drawFileTokenSalt();
            if (!salt) {
                return orva::kOperationFailed;
            }
            Result<FileToken> token =
                buildFileToken(FileTokenMode::chosen, *path, *salt, FileTokenKeyName::filePath);
            if (!token) {
                return token.code();
            }
            state.chosenFile = makeFileTokenRecord(*token, *salt, *path, FileTokenMode::chosen);
            text = std::move(token->text);
            return orva::kSuccess;
        });
    });
}

extern "C" int QZAPI_ChooseFile(char* buffer, int* length) {
    return guardedExport([&] {
        if (length == nullptr) {
            return orva::kInvalidParameter;
        }
        const std::optional<std::string> path = chooseFileInDialog();
        if (!path) {
            // A cancel answers the empty text, written only where it has room.
            if (buffer != nullptr && *length >= 1) {
                buffer[0] = '\0';
            }
            *length = 1;
            return orva::kSuccess;
        }
        return sizedOutput(*path, buffer, length);
    });
}
