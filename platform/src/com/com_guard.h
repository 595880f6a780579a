#pragma once

// Nothing thrown leaves a COM entry: memory is E_OUTOFMEMORY, the rest E_FAIL.

#include <new>

#include "win32/com.h"

namespace orva::platform::com {

template <class Body>
HRESULT guardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace orva::platform::com
