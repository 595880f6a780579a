#pragma once

// WriteSignatureFile: the signature of a signed file, in a file of its own.

#include <string>
#include <string_view>

#include "orva_result_codes.h"
#include "regular_file.h"
#include "result.h"

namespace orva::api {

// A signature file as it was written.
struct SignatureFile {
    std::string path;  // its full path
    RegularFile file;  // open for reading what was written, whatever the path leads to later
};

// Writes the base64 text into a new file <SignerCn>.<YYYYMMDDhhmm>.<6 random
// digits>.sig (the name in the ANSI code page) in the signed file's folder or, when it cannot be
// created there, in the temporary folder. An existing file is never replaced: a name that is taken
// draws new digits. kNoFile with no text or when no such file can be created (its full path at
// most 259 bytes), kWriteFileError when the text cannot be written whole (nothing is left behind),
// kOperationFailed when no random digits can be drawn.
Result<SignatureFile> writeSignatureFile(std::string_view signedPath, std::string_view text);

}  // namespace orva::api
