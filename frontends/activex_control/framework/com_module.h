#pragma once

// The module-wide state of an in-process COM server: its lock count (every
// live object it handed out, class factories and type information included,
// and LockServer locks), its module handle and its type library.

#include <atomic>

#include "win32/com.h"

namespace orva::com {

class ComModule {
  public:
    void lock() noexcept { ++locks_; }
    void unlock() noexcept { --locks_; }
    long lockCount() const noexcept { return locks_.load(); }

    // Set at process attach; null while the module was not loaded through LoadLibrary.
    void init(HMODULE instance, const GUID& libid) noexcept {
        instance_ = instance;
        libid_ = libid;
    }
    void term() noexcept { instance_ = nullptr; }
    HMODULE instance() const noexcept { return instance_; }
    const GUID& libid() const noexcept { return libid_; }

  private:
    std::atomic<long> locks_{0};
    HMODULE instance_ = nullptr;
    GUID libid_ = IID_NULL;
};

// The one module of this server.
ComModule& comModule() noexcept;

}  // namespace orva::com
