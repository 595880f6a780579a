#pragma once

// The entries of a store folder, listed once per version of the folder. A
// folder keeps its inode while entries come and go, so its version is its times
// and size. Those times come from the kernel's coarse clock: two changes within
// one tick can leave a folder with the same times, so a listing is kept only
// when the folder's times were already behind that clock before it was read; a
// change after that always gives newer times. Folders on file systems that keep
// whole seconds (no nanoseconds in their times) are kept once their times are
// two seconds old; folders on file systems that round times or stamp them from
// another clock (network, FUSE, FAT-like) are listed on every look.

#include <time.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orva::softkey {

struct FolderEntry {
    std::string name;
    bool regularFile = false;
};

// Sorted by name; empty when the folder does not exist.
using FolderListing = std::vector<FolderEntry>;

// Throws StoreError (io) when the folder cannot be read.
std::shared_ptr<const FolderListing> listFolder(const std::filesystem::path& folder);

bool hasEntry(const FolderListing& listing, std::string_view name);

// Whether a change made after the clock read now is sure to stamp a folder with
// other times than stamp.
bool stampSettled(const timespec& stamp, const timespec& now) noexcept;

}  // namespace orva::softkey
