// Fuzzes the host's frame reader. Input: the bytes the browser writes to the
// host's standard input, any number of frames.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "native_message.h"
#include "orva/file_descriptor.h"
#include "orva/file_replacement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orva::native_host;
    const orva::FileDescriptor input(::memfd_create("frames", MFD_CLOEXEC));
    if (!input ||
        !orva::writeAll(input.get(), std::string_view(reinterpret_cast<const char*>(data), size)) ||
        ::lseek(input.get(), 0, SEEK_SET) != 0) {
        std::abort();
    }
    FrameReader reader(input.get());
    std::string body;
    std::size_t framed = 0;
    for (;;) {
        const FrameStatus status = reader.read(body);
        if (status == FrameStatus::endOfInput) {
            break;
        }
        // A message has a body, nothing else does, and no frame is made of
        // bytes the input did not hold.
        if ((status == FrameStatus::message) == body.empty()) {
            std::abort();
        }
        framed += 4 + (status == FrameStatus::refused ? kMaxRequestBytes + 1u : body.size());
        if (framed > size) {
            std::abort();
        }
    }
    return 0;
}
