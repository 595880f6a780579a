#pragma once

// Keys this process parsed, by file path. An entry is used only while its file
// is unchanged (same inode, size and times); the entry keeps the file open, so
// its inode number cannot pass to a newer file. The store replaces a key file
// by renaming a new one over it, so every write gives a new inode.

#include <memory>
#include <string>

#include "orva/file_descriptor.h"
#include "orva/file_version.h"
#include "token.h"

namespace orva::softkey {

// The key parsed from the file at path when that file is still at version.
std::shared_ptr<const Token> cachedKey(const std::string& path, const FileVersion& version);
// Keeps a parsed key with its open file and hands it back shared.
std::shared_ptr<const Token> rememberKey(const std::string& path, const FileVersion& version,
                                         FileDescriptor file, Token key);
// Drops the entry of a file that is gone.
void forgetKey(const std::string& path);

}  // namespace orva::softkey
