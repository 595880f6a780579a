#pragma once

// The file a caller names for the base64 signature. It is never emptied before
// the signature exists: the text is written to a temporary file beside it and
// renamed over it only when complete, so a failure (a cancel on the key
// included) leaves the file as it was.

#include <sys/types.h>
#include <string>
#include <string_view>

#include "orva_result_codes.h"

namespace orva::api {

class OutputFile {
  public:
    // CheckOutputFileWritable without the truncation: an existing file must be
    // a regular file that opens for writing, a missing one is created empty (and
    // removed again unless the signature is written). kOpenFileError otherwise.
    ApiErrorCode reserve(std::string_view path);

    // WriteOutputFile: replaces the file with the bytes. kInvalidParameter with no text,
    // kOpenFileError when the temporary file cannot be created, kWriteFileError when writing,
    // syncing or renaming it fails (the temporary file is removed).
    ApiErrorCode write(std::string_view text);

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

  private:
    // The file the rename replaces: the path, or where its symbolic link leads.
    std::string target_;
    mode_t mode_ = 0;
    bool created_ = false;
    bool written_ = false;
};

}  // namespace orva::api
