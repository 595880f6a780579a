#include "output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "orva/c_owners.h"
#include "orva/file_descriptor.h"
#include "orva/file_replacement.h"

namespace orva::api {

namespace {

constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kPermissionBits = 07777;

}  // namespace

ApiErrorCode OutputFile::reserve(std::string_view path) {
    const std::string name(path);
    if (name.empty() || name.find('\0') != std::string::npos) {
        return kOpenFileError;
    }
    // A missing file: create it now, as the caller expects a file to exist
    // from here on.
    FileDescriptor created(
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode));
    if (created.get() >= 0) {
        struct stat status {};
        if (::fstat(created.get(), &status) != 0) {
            ::unlink(name.c_str());
            return kOpenFileError;
        }
        target_ = name;
        mode_ = status.st_mode & kPermissionBits;
        created_ = true;
        return kSuccess;
    }
    if (errno != EEXIST) {
        return kOpenFileError;
    }
    // An existing one must take writing without being emptied, and be a
    // regular file: the rename would replace a device or a pipe.
    FileDescriptor existing(::open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (existing.get() < 0 || ::fstat(existing.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return kOpenFileError;
    }
    // Through a symbolic link the file it leads to is replaced, not the link.
    const orva::MallocPtr<char> resolved(realpath(name.c_str(), nullptr));
    if (!resolved) {
        return kOpenFileError;
    }
    target_ = resolved.get();
    mode_ = status.st_mode & kPermissionBits;
    return kSuccess;
}

ApiErrorCode OutputFile::write(std::string_view text) {
    if (target_.empty() || text.empty()) {
        return kInvalidParameter;
    }
    if (!replaceFile(target_, text, NewFileMode{mode_, true})) {
        return kWriteFileError;
    }
    written_ = true;
    return kSuccess;
}

OutputFile::~OutputFile() {
    if (created_ && !written_) {
        ::unlink(target_.c_str());
    }
}

}  // namespace orva::api
