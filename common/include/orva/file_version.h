#pragma once

// A file's identity and version as stat(2) reports them. A cache that keeps the
// file open keeps its inode number from being reused by a newer file, so an
// equal version then means the same, unchanged file.

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>

namespace orva {

struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileVersion of(const struct stat& st) noexcept {
        return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    bool operator==(const FileVersion& other) const noexcept {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

}  // namespace orva
