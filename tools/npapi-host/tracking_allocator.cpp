// The tracking allocator.

#include "tracking_allocator.h"

#include <cstdlib>

namespace orva::npapi_host {

TrackingAllocator::~TrackingAllocator() {
    for (const auto& [block, size] : live_) {
        std::free(block);
    }
}

void* TrackingAllocator::allocate(std::size_t size) {
    if (failIn_ != 0 && --failIn_ == 0) {
        return nullptr;
    }
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        return nullptr;
    }
    ++allocations_;
    live_.emplace(block, size);
    // The address is handed out anew: freeing it once more is no double free.
    freed_.erase(block);
    return block;
}

void TrackingAllocator::release(void* block) {
    if (block == nullptr) {
        return;
    }
    const auto it = live_.find(block);
    if (it == live_.end()) {
        ++(freed_.count(block) != 0 ? doubleFrees_ : foreignFrees_);
        return;
    }
    live_.erase(it);
    freed_.insert(block);
    std::free(block);
}

std::size_t TrackingAllocator::liveBytes() const noexcept {
    std::size_t bytes = 0;
    for (const auto& [block, size] : live_) {
        bytes += size;
    }
    return bytes;
}

}  // namespace orva::npapi_host
