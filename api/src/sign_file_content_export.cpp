// QZAPI_GetSignFileContent: a piece of the signature file written last, named
// by its token: "MARK=<d>||CONTENT=" and the bytes, d 2 for the last piece,
// else 0 for the first and 1 for the others.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "export_guard.h"
#include "file_token.h"
#include "orva_api.h"
#include "regular_file.h"
#include "sized_output.h"

using namespace orva::api;

namespace {

constexpr std::string_view kPieceHeader = "MARK=0||CONTENT=";
constexpr std::size_t kMarkPosition = 5;

}  // namespace

extern "C" int QZAPI_GetSignFileContent(const char* signedFileToken, int maxLength, int fileOffset,
                                        char* buffer, int* length) {
    return guardedExport([&] {
        if (signedFileToken == nullptr || *signedFileToken == '\0' || maxLength <= 0 ||
            fileOffset < 0 || length == nullptr) {
            return orva::kInvalidParameter;
        }
        const std::string_view token(signedFileToken,
                                     strnlen(signedFileToken, kFileTokenDigits + 1));
        std::string path;
        if (const orva::ApiErrorCode code =
                resolveFileToken(token, FileTokenKeyName::fileName, path);
            code != orva::kSuccess) {
            return code;
        }
        const std::optional<RegularFile> file = RegularFile::open(path);
        if (!file) {
            return orva::kOpenFileError;
        }
        const auto offset = static_cast<std::uint64_t>(fileOffset);
        if (offset >= file->size()) {
            return orva::kInvalidParameter;
        }
        // Room for what is left of the file at most, whatever the page asks for.
        const auto wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(maxLength), file->size() - offset));
        std::string piece(kPieceHeader);
        piece.resize(kPieceHeader.size() + wanted);
        const std::optional<std::size_t> got = file->readAt(
            offset,
            std::span(reinterpret_cast<std::uint8_t*>(piece.data()) + kPieceHeader.size(), wanted));
        if (!got) {
            return orva::kOpenFileError;
        }
        piece.resize(kPieceHeader.size() + *got);
        const bool last =
            *got < static_cast<std::size_t>(maxLength) || offset + *got == file->size();
        piece[kMarkPosition] = last ? '2' : (offset == 0 ? '0' : '1');
        // A signature file holds base64 only: its text ends at a NUL.
        piece.resize(std::min(piece.size(), piece.find('\0')));
        return sizedOutput(piece, buffer, length);
    });
}
