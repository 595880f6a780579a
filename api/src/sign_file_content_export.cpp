// QZAPI_GetSignFileContent: a piece of the signature file written last, named
// by its token: "MARK=<d>||CONTENT=" and the bytes, d 2 for the last piece,
// else 0 for the first and 1 for the others.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "export_guard.h"
#include "file_token.h"
#include "orva_api.h"
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
        // The piece is cut from the bytes the token is checked against: a path
        // swapped between two reads can hand out nothing else.
        const auto offset = static_cast<std::uint64_t>(fileOffset);
        const Result<ResolvedFile> resolved =
            resolveFileToken(token, FileTokenKeyName::fileName,
                             ExcerptRange{offset, static_cast<std::size_t>(maxLength)});
        if (!resolved) {
            return resolved.code();
        }
        if (offset >= resolved->length) {
            return orva::kInvalidParameter;
        }
        const Bytes& excerpt = resolved->excerpt;
        const std::size_t got = excerpt.size();
        std::string piece(kPieceHeader);
        piece.append(excerpt.begin(), excerpt.end());
        const bool last =
            got < static_cast<std::size_t>(maxLength) || offset + got == resolved->length;
        piece[kMarkPosition] = last ? '2' : (offset == 0 ? '0' : '1');
        // A signature file holds base64 only: its text ends at a NUL.
        piece.resize(std::min(piece.size(), piece.find('\0')));
        return sizedOutput(piece, buffer, length);
    });
}
