#pragma once

// What the host keeps between requests: the binding of the token API library,
// its charset setting and the pending long reply. One per process, used by
// one thread.

#include "api_binding.h"
#include "current_charset.h"
#include "pending_reply.h"
#include "win32/registry.h"

namespace orva::native_host {

struct HostState {
    // The host stands for the product's 32-bit program, which reads the
    // provider key in the 32-bit view.
    frontend::ApiBinding binding{KEY_WOW64_32KEY};
    frontend::CurrentCharset charset;
    PendingReply pending;

    const frontend::ApiFunctionTable& api() const noexcept { return binding.functions(); }
};

}  // namespace orva::native_host
