#pragma once

// One request body in, one reply text out.

#include <string>
#include <string_view>

#include "host_state.h"

namespace orva::native_host {

// The reply to a request: {"CmdType":name,"Resp":...} printed without spaces,
// or the empty text for a body that is not JSON or names no command (a frame
// of length 0). Binds the token API library first if it is not bound.
std::string dispatchCommand(HostState& host, std::string_view body) noexcept;

// {"CmdType":name,"Resp":kDriverNotInstalled in decimal}: the library could not be bound.
std::string buildErrorReply(const char* name);

}  // namespace orva::native_host
