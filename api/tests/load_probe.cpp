// Compiled into the test copies of the maker's libraries: records each attach
// and detach, so the binding tests see which libraries were loaded and in what
// order they were freed. The label names the library.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "win32/module.h"

namespace {

void record(const char* event) noexcept {
    const char* log = getenv("ORVA_API_TEST_PROBE_LOG");
    if (!log || !*log) {
        return;
    }
    const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    try {
        const std::string line = std::string(event) + " " + ORVA_PROBE_LABEL + "\n";
        // One write per line; a short write only spoils the test that reads it.
        [[maybe_unused]] const ssize_t written = write(fd, line.data(), line.size());
    } catch (...) {
    }
    close(fd);
}

}  // namespace

extern "C" ORVA_EXPORT BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        record("attach");
    } else if (reason == DLL_PROCESS_DETACH) {
        record("detach");
    }
    return TRUE;
}
