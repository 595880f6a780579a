#pragma once

// FileToken: the opaque token a page holds for a file. Its text is
// "TOKEN=<64 hex digits>||<key>=<UTF-8 path or name>||FILESIZE=<bytes>" in
// base64; the digits are SM3 over the UTF-8 path, the file and a salt, for a
// named file encrypted with FileTokenKey. A token is honoured only while it is
// its record's and the file is as it was.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "byte_buffer.h"
#include "file_token_state.h"
#include "orva_result_codes.h"
#include "regular_file.h"
#include "result.h"

namespace orva::api {

// The key of the token text: the whole path of a chosen or named file, the
// name alone of a signature file.
enum class FileTokenKeyName { filePath, fileName };

struct FileToken {
    std::string token;  // the 64 hex digits
    std::string text;   // the base64 token text
};

// 32 random bytes from the algorithm library; none when it fails.
[[nodiscard]] std::optional<FileTokenSalt> drawFileTokenSalt();

// BuildFileToken. kNoFile for an empty path or one over kFileTokenPathLimit
// bytes, a path that does not convert to UTF-8 or a text over 1023 bytes;
// kOpenFileError when the file is not a regular file that opens; kOperationFailed when the
// algorithm library fails; kBase64EncodeError when the text cannot be encoded.
Result<FileToken> buildFileToken(FileTokenMode mode, std::string_view path,
                                 const FileTokenSalt& salt, FileTokenKeyName key);
// The same for the file already open under path (one just written), so that
// the token is of the bytes behind that descriptor, whatever the path leads to.
Result<FileToken> buildFileToken(FileTokenMode mode, std::string_view path, const RegularFile& file,
                                 const FileTokenSalt& salt, FileTokenKeyName key);

// A stretch of a file wanted from the very bytes its token is checked against:
// maxLength bytes at most from offset on.
struct ExcerptRange {
    std::uint64_t offset = 0;
    std::size_t maxLength = 0;
};

// A token's file as ResolveFileToken checked it: the recorded path, and the
// file it opened there and digested, still open, so that what is read next is
// what was checked.
struct ResolvedFile {
    std::string path;
    RegularFile file;
    std::uint64_t length = 0;  // the bytes digested
    Bytes excerpt;             // what the file held in the range asked for, if any
};

// ResolveFileToken: the record a token belongs to (the signed file's for
// fileName, else the chosen file's), after rebuilding the token from the file
// as it is now, opened once; an excerpt, when asked for, is cut from the bytes
// digested. kTokenInfoError for a token not of 64 characters, not the record's, or for a
// changed file; a rebuild's own code (a deleted file kOpenFileError).
Result<ResolvedFile> resolveFileToken(std::string_view token, FileTokenKeyName key,
                                      std::optional<ExcerptRange> excerpt = std::nullopt);

// A record of what was handed out.
FileTokenRecord makeFileTokenRecord(const FileToken& token, const FileTokenSalt& salt,
                                    std::string_view path, FileTokenMode mode);

}  // namespace orva::api
