#include "orva/file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace orva {

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

ReplacementResult failed(const char* step) noexcept {
    return {errno == 0 ? EIO : errno, step};
}

}  // namespace

bool writeAll(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

ReplacementResult replaceFile(const std::string& path, std::string_view content, NewFileMode mode,
                              FileDescriptor* written) {
    // Beside the target, so that the rename cannot cross file systems. The
    // callers serialise their writers to one file; a temporary file left by a
    // crash is simply overwritten.
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    FileDescriptor file(::open(temporary.c_str(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode.bits));
    if (!file) {
        return failed("open");
    }
    ReplacementResult result;
    if (mode.exact && ::fchmod(file.get(), mode.bits) != 0) {
        result = failed("chmod");
    } else if (!writeAll(file.get(), content)) {
        result = failed("write");
    } else if (::fsync(file.get()) != 0) {
        result = failed("fsync");
    } else if (written == nullptr && !file.close()) {
        result = failed("close");
    } else if (::rename(temporary.c_str(), path.c_str()) != 0) {
        result = failed("rename");
    }
    if (!result) {
        ::unlink(temporary.c_str());
        return result;
    }
    FileDescriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Some file systems cannot sync a folder; the rename is then as durable as
    // they make it.
    if (!folder || (::fsync(folder.get()) != 0 && errno != EINVAL)) {
        return failed("sync folder");
    }
    if (written != nullptr) {
        *written = std::move(file);
    }
    return result;
}

}  // namespace orva
