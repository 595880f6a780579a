#pragma once

// Attach and detach of the library, as DllMain runs them.

#include "win32/types.h"

namespace orva::api {

// Loads Scrivel (optional), then Dravik, QZAlgLib and Pelnor with every name of
// their lists. TRUE when all three are bound; on FALSE the detach steps have
// run, so nothing stays loaded.
[[nodiscard]] BOOL processAttach(HMODULE self) noexcept;

// Frees Dravik, QZAlgLib, Pelnor and Scrivel in that order, then ends the
// state kept between calls (the warning text freed, SignerCn gone, the file
// token key wiped) and clears the binding table. Always TRUE. The library
// registers nothing for exit: this alone ends its state, so a detach from a
// front end's exit-time cleanup finds the library whole.
BOOL processDetach() noexcept;

}  // namespace orva::api
