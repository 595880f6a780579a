#include "folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "orva/file_version.h"
#include "recent_cache.h"
#include "store.h"

namespace orva::softkey {

namespace {

struct CachedListing {
    FileVersion version;
    std::shared_ptr<const FolderListing> listing;
};

// A process looks at a store's root and its present/ folder.
constexpr std::size_t kMaxFolders = 16;
constinit RecentCache<std::string, CachedListing> gListings(kMaxFolders);

constexpr time_t kWholeSecondSlack = 2;

bool before(const timespec& a, const timespec& b) noexcept {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Whether the folder's file system stamps times from this host's clock, to the
// nanosecond or the second. Network, FUSE and FAT-like file systems round times
// or take them from another clock, so their folders are listed on every look.
bool stampsFromThisClock(const std::filesystem::path& folder) noexcept {
    constexpr long kExt = 0xEF53;
    constexpr long kXfs = 0x58465342;
    constexpr long kBtrfs = 0x9123683E;
    constexpr long kTmpfs = 0x01021994;
    constexpr long kOverlay = 0x794C7630;
    struct statfs fs {};
    if (::statfs(folder.c_str(), &fs) != 0) {
        return false;
    }
    switch (static_cast<long>(fs.f_type)) {
        case kExt:
        case kXfs:
        case kBtrfs:
        case kTmpfs:
        case kOverlay:
            return true;
        default:
            return false;
    }
}

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

FolderListing readFolder(const std::filesystem::path& folder) {
    FolderListing listing;
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        if (errno == ENOENT) {
            return listing;
        }
        throw StoreError(StoreErrorKind::io,
                         "list " + folder.string() + ": " + std::strerror(errno));
    }
    for (;;) {
        errno = 0;  // readdir reports an error only through errno
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st {};
            regular =
                ::fstatat(::dirfd(dir.get()), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        listing.push_back(FolderEntry{std::string(name), regular});
    }
    if (errno != 0) {
        throw StoreError(StoreErrorKind::io,
                         "list " + folder.string() + ": " + std::strerror(errno));
    }
    std::sort(listing.begin(), listing.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return listing;
}

}  // namespace

std::shared_ptr<const FolderListing> listFolder(const std::filesystem::path& folder) {
    // The clock is read first: whatever changes the folder after this reading
    // stamps it with this time or later.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            throw StoreError(StoreErrorKind::io,
                             "stat " + folder.string() + ": " + std::strerror(errno));
        }
        gListings.forget(folder.string());
        return std::make_shared<const FolderListing>();
    }
    const FileVersion version = FileVersion::of(st);
    if (const auto cached = gListings.find(folder.string()); cached && cached->version == version) {
        return cached->listing;
    }
    auto listing = std::make_shared<const FolderListing>(readFolder(folder));
    if (stampSettled(st.st_mtim, now) && stampSettled(st.st_ctim, now) &&
        stampsFromThisClock(folder)) {
        gListings.remember(folder.string(), CachedListing{version, listing});
    } else {
        gListings.forget(folder.string());
    }
    return listing;
}

bool stampSettled(const timespec& stamp, const timespec& now) noexcept {
    if (stamp.tv_nsec == 0) {
        return stamp.tv_sec + kWholeSecondSlack < now.tv_sec;
    }
    return before(stamp, now);
}

bool hasEntry(const FolderListing& listing, std::string_view name) {
    const auto it = std::lower_bound(
        listing.begin(), listing.end(), name,
        [](const FolderEntry& entry, std::string_view n) { return entry.name < n; });
    return it != listing.end() && it->name == name;
}

}  // namespace orva::softkey
