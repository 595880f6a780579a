#pragma once

// An owned POSIX file descriptor, closed when its owner goes.

#include <unistd.h>

#include <utility>

namespace orva {

class FileDescriptor {
  public:
    FileDescriptor() noexcept = default;
    // Takes fd, which may be -1 (a failed open): errno is left as the open set it.
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // Closes now and reports what close reports: a delayed write error shows here.
    bool close() noexcept { return ::close(std::exchange(fd_, -1)) == 0; }

    // Gives the descriptor up to the caller, who closes it.
    int release() noexcept { return std::exchange(fd_, -1); }

    void reset() noexcept {
        if (fd_ >= 0) {
            ::close(std::exchange(fd_, -1));
        }
    }

  private:
    int fd_ = -1;
};

}  // namespace orva
