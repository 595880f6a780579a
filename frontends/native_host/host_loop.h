#pragma once

// The host's read-dispatch-write loop.

#include "host_state.h"

namespace orva::native_host {

// Answers each request read from input with one frame on output, strictly one
// after another, until input ends or a reply cannot be written. Answers 0.
int runHost(int input, int output, HostState& host) noexcept;

}  // namespace orva::native_host
