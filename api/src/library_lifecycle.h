#pragma once

// Attach and detach of the library, as DllMain runs them.

#include "win32/types.h"

namespace orva::api {

// Loads Scrivel (optional), then Dravik, QZAlgLib and Pelnor with every name of
// their lists. TRUE when all three are bound; on FALSE the detach steps have
// run, so nothing stays loaded.
BOOL processAttach(HMODULE self) noexcept;

// Frees Dravik, QZAlgLib, Pelnor and Scrivel in that order, then clears the
// texts kept between calls and the binding table. Always TRUE.
BOOL processDetach() noexcept;

}  // namespace orva::api
