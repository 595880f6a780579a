#pragma once

// Owners of what C libraries hand out: memory to give back with free, and
// dlopen references.

#include <dlfcn.h>

#include <cstdlib>
#include <memory>

namespace orva {

struct FreeWithFree {
    void operator()(void* p) const noexcept { std::free(p); }
};
// Memory from malloc, calloc, realpath, strdup...
template <typename T>
using MallocPtr = std::unique_ptr<T, FreeWithFree>;

struct DlClose {
    void operator()(void* handle) const noexcept { dlclose(handle); }
};
// One dlopen reference.
using DlHandle = std::unique_ptr<void, DlClose>;

}  // namespace orva
