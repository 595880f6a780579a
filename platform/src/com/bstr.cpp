// BSTRs: a 32-bit byte length, the UTF-16 characters and a NUL, in one block
// from the C heap; the pointer handed out is the first character.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "orva/com_registration.h"
#include "win32/com.h"

namespace {

constexpr std::size_t kPrefix = sizeof(uint32_t);

std::atomic<std::size_t> liveCount{0};
// Fault switch: allocations to let through, then allocations to refuse.
std::atomic<std::size_t> passBeforeFailure{0};
std::atomic<std::size_t> failuresLeft{0};

bool refuseAllocation() noexcept {
    if (failuresLeft.load() == 0) {
        return false;
    }
    std::size_t pass = passBeforeFailure.load();
    while (pass > 0) {
        if (passBeforeFailure.compare_exchange_weak(pass, pass - 1)) {
            return false;
        }
    }
    std::size_t left = failuresLeft.load();
    while (left > 0) {
        if (failuresLeft.compare_exchange_weak(left, left - 1)) {
            return true;
        }
    }
    return false;
}

std::byte* blockOf(BSTR text) noexcept {
    return reinterpret_cast<std::byte*>(text) - kPrefix;
}

// A block for bytes of text, followed by zero bytes up to and including a
// whole NUL character: one past an odd length, so that a reader that goes to
// the NUL ends within the block.
BSTR allocate(const void* source, std::size_t bytes) {
    constexpr std::size_t kMaxBytes = std::numeric_limits<uint32_t>::max() - kPrefix - 4;
    if (bytes > kMaxBytes || refuseAllocation()) {
        return nullptr;
    }
    const std::size_t padding = sizeof(OLECHAR) + bytes % sizeof(OLECHAR);
    auto* block = static_cast<std::byte*>(std::malloc(kPrefix + bytes + padding));
    if (block == nullptr) {
        return nullptr;
    }
    const auto length = static_cast<uint32_t>(bytes);
    std::memcpy(block, &length, kPrefix);
    std::byte* text = block + kPrefix;
    if (source != nullptr) {
        std::memcpy(text, source, bytes);
    } else {
        std::memset(text, 0, bytes);
    }
    std::memset(text + bytes, 0, padding);
    ++liveCount;
    return reinterpret_cast<BSTR>(text);
}

}  // namespace

ORVA_API_ENTRY BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    return allocate(strIn, std::size_t{ui} * sizeof(OLECHAR));
}

ORVA_API_ENTRY BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
    return allocate(psz, len);
}

ORVA_API_ENTRY BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) {
        return nullptr;
    }
    std::size_t length = 0;
    while (psz[length] != u'\0') {
        ++length;
    }
    if (length > std::numeric_limits<UINT>::max()) {
        return nullptr;
    }
    return SysAllocStringLen(psz, static_cast<UINT>(length));
}

ORVA_API_ENTRY void SysFreeString(BSTR bstrString) {
    if (bstrString == nullptr) {
        return;
    }
    --liveCount;
    std::free(blockOf(bstrString));
}

ORVA_API_ENTRY UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr) {
        return 0;
    }
    uint32_t length = 0;
    std::memcpy(&length, blockOf(bstr), kPrefix);
    return length;
}

ORVA_API_ENTRY UINT SysStringLen(BSTR pbstr) {
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

namespace orva::platform {

std::size_t liveBstrCount() noexcept {
    return liveCount.load();
}

void failBstrAllocations(std::size_t skip, std::size_t count) noexcept {
    passBeforeFailure = skip;
    failuresLeft = count;
}

}  // namespace orva::platform
