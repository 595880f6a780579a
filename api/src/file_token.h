#pragma once

// FileToken: the opaque token a page holds for a file. Its text is
// "TOKEN=<64 hex digits>||<key>=<UTF-8 path or name>||FILESIZE=<bytes>" in
// base64; the digits are SM3 over the UTF-8 path, the file and a salt, for a
// named file encrypted with FileTokenKey. A token is honoured only while it is
// its record's and the file is as it was.

#include <string>
#include <string_view>

#include "file_token_state.h"
#include "orva_result_codes.h"

namespace orva::api {

// The key of the token text: the whole path of a chosen or named file, the
// name alone of a signature file.
enum class FileTokenKeyName { filePath, fileName };

struct FileToken {
    std::string token;  // the 64 hex digits
    std::string text;   // the base64 token text
};

// 32 random bytes from the algorithm library; -300 when it fails.
ApiErrorCode drawFileTokenSalt(FileTokenSalt& salt);

// BuildFileToken. -331 for an empty path or one over kFileTokenPathLimit
// bytes, a path that does not convert to UTF-8 or a text over 1023 bytes;
// -329 when the file is not a regular file that opens; -300 when the
// algorithm library fails; -402 when the text cannot be encoded.
ApiErrorCode buildFileToken(FileTokenMode mode, std::string_view path, const FileTokenSalt& salt,
                            FileTokenKeyName key, FileToken& out);

// ResolveFileToken: the path of the record a token belongs to (the signed
// file's for fileName, else the chosen file's), after rebuilding the token
// from the file as it is now. -341 for a token not of 64 characters, not the
// record's, or for a changed file; a rebuild's own code (a deleted file -329).
ApiErrorCode resolveFileToken(std::string_view token, FileTokenKeyName key, std::string& path);

// A record of what was handed out.
FileTokenRecord makeFileTokenRecord(const FileToken& token, const FileTokenSalt& salt,
                                    std::string_view path, FileTokenMode mode);

}  // namespace orva::api
