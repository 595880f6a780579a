#include "orva/regular_file_open.h"

#include <fcntl.h>

namespace orva {

FileDescriptor openRegularFile(const char* path, int flags, mode_t mode, struct stat* status) {
    FileDescriptor file(::open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
    if (!file) {
        return file;
    }
    struct stat own {};
    struct stat& st = status != nullptr ? *status : own;
    int error = 0;
    if (::fstat(file.get(), &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = kNotRegularFile;
    }
    if (error != 0) {
        file.reset();  // close may change errno
        errno = error;
    }
    return file;
}

}  // namespace orva
