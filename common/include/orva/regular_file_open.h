#pragma once

// Opening a file that must be a regular one: a FIFO, a device, a socket or a
// folder where a file is expected never blocks the open or the reads after it.

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#include "orva/file_descriptor.h"

namespace orva {

// errno when the path exists but is not a regular file.
inline constexpr int kNotRegularFile = ENXIO;

// Opens path with flags (O_RDONLY, O_RDWR | O_CREAT...) and, when status is
// given, fills it from fstat. The open does not wait (a FIFO without a writer
// or reader answers at once); anything but a regular file is closed again
// with errno kNotRegularFile. On failure the descriptor is empty and errno
// says why.
FileDescriptor openRegularFile(const char* path, int flags, mode_t mode = 0,
                               struct stat* status = nullptr);

}  // namespace orva
