// orva_xr_usbkey_extension: the native-messaging host a browser starts for
// the product's extension. Requests come on standard input and replies go to
// standard output, as length-prefixed JSON.

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <csignal>

#include "host_loop.h"
#include "host_state.h"

namespace {

// Frames go to a descriptor of their own, and descriptor 1 to /dev/null, so
// that nothing a loaded library prints can ever break the framing. Answers the
// frames' descriptor: descriptor 1 itself when the others cannot be set up.
int frameOutput() noexcept {
    const int frames = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (frames < 0) {
        return STDOUT_FILENO;
    }
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0) {
        if (null >= 0) {
            ::close(null);
        }
        ::close(frames);
        return STDOUT_FILENO;
    }
    ::close(null);
    return frames;
}

}  // namespace

// The browser passes the caller's origin (and on some systems a window id);
// the host serves any caller the browser lets through, so argv is not read.
int main(int, char**) {
    // A browser that closed the pipe must not kill the host: the write fails
    // and the loop ends.
    std::signal(SIGPIPE, SIG_IGN);
    const int output = frameOutput();
    // A long result goes out in pieces of a megabyte, each built, printed and
    // freed in turn. Keep freed memory in the heap for the next piece: given
    // back to the system, it is faulted in again at every piece, which costs
    // ten times the copying.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
    orva::native_host::HostState host;
    return orva::native_host::runHost(STDIN_FILENO, output, host);
}
