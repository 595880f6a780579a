#include "attached_file.h"

#include <utility>

namespace orva::api {

AttachedFile::AttachedFile(std::string_view path, RegularFile checked)
    : path_(path), file_(std::move(checked)), opened_(true), checked_(true) {}

const RegularFile* AttachedFile::file() {
    if (!opened_) {
        opened_ = true;
        if (!path_.empty()) {
            file_ = RegularFile::open(path_);
        }
    }
    return file_ ? &*file_ : nullptr;
}

bool AttachedFile::unchanged() const noexcept {
    return !checked_ || file_->unchanged();
}

}  // namespace orva::api
