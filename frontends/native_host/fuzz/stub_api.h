#pragma once

// In-process stand-ins for the 40 exports: each answers 0 and, where it has a
// buffer, a short text by the library's buffer rules. They touch no key.

#include "api_function_table.h"

namespace orva::native_host::fuzz {

const frontend::ApiFunctionTable& stubApi() noexcept;

}  // namespace orva::native_host::fuzz
