#include "output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace orva::api {

namespace {

constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kPermissionBits = 07777;
constexpr std::string_view kTemporarySuffix = ".orva-XXXXXX";

class Descriptor {
  public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const noexcept { return fd_; }
    // Closes now, reporting what close reports.
    bool close() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

struct FreeC {
    void operator()(char* p) const noexcept { free(p); }
};

}  // namespace

bool writeAll(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

ApiErrorCode OutputFile::reserve(std::string_view path) {
    const std::string name(path);
    if (name.empty() || name.find('\0') != std::string::npos) {
        return kOpenFileError;
    }
    // A missing file: create it now, as the caller expects a file to exist
    // from here on.
    Descriptor created(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode));
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
    Descriptor existing(::open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (existing.get() < 0 || ::fstat(existing.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return kOpenFileError;
    }
    // Through a symbolic link the file it leads to is replaced, not the link.
    const std::unique_ptr<char, FreeC> resolved(realpath(name.c_str(), nullptr));
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
    // A temporary file in the same folder, so that the rename cannot cross file
    // systems.
    std::string temporary = target_ + std::string(kTemporarySuffix);
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return kOpenFileError;
    }
    const bool written = ::fchmod(fd.get(), mode_) == 0 && writeAll(fd.get(), text) &&
                         ::fsync(fd.get()) == 0 && fd.close() &&
                         ::rename(temporary.c_str(), target_.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
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
