#pragma once

// The browser's memory for plug-ins: every block is tracked, so leaks, double
// frees and frees of memory the browser never gave out are caught; an
// allocation can be made to fail.

#include <cstddef>
#include <map>
#include <set>

namespace orva::npapi_host {

class TrackingAllocator {
  public:
    TrackingAllocator() = default;
    ~TrackingAllocator();
    TrackingAllocator(const TrackingAllocator&) = delete;
    TrackingAllocator& operator=(const TrackingAllocator&) = delete;

    // A block of size bytes (at least one), or null when failing.
    void* allocate(std::size_t size);
    // Frees a block; null is ignored. A block given twice, or never given,
    // is counted and left alone.
    void release(void* block);

    // Makes the nth allocation from now fail (1: the next); 0 cancels.
    void failAllocation(std::size_t nth) noexcept { failIn_ = nth; }

    std::size_t liveBlocks() const noexcept { return live_.size(); }
    std::size_t liveBytes() const noexcept;
    std::size_t doubleFrees() const noexcept { return doubleFrees_; }
    std::size_t foreignFrees() const noexcept { return foreignFrees_; }
    std::size_t allocations() const noexcept { return allocations_; }
    // Nothing live and no fault seen.
    bool balanced() const noexcept {
        return live_.empty() && doubleFrees_ == 0 && foreignFrees_ == 0;
    }

  private:
    std::map<void*, std::size_t> live_;
    std::set<void*> freed_;
    std::size_t failIn_ = 0;
    std::size_t allocations_ = 0;
    std::size_t doubleFrees_ = 0;
    std::size_t foreignFrees_ = 0;
};

}  // namespace orva::npapi_host
