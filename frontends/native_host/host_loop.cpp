// The main loop: read a frame, dispatch it, write the reply.

#include "host_loop.h"

#include <string>

#include "dispatch.h"
#include "native_message.h"

namespace orva::native_host {

int runHost(int input, int output, HostState& host) noexcept {
    FrameReader reader(input);
    std::string body;
    for (;;) {
        FrameStatus status = FrameStatus::endOfInput;
        try {
            status = reader.read(body);
        } catch (...) {
            // No memory for a body: the request cannot be answered; end as at
            // the end of input, since the stream is no longer at a frame.
            break;
        }
        if (status == FrameStatus::endOfInput) {
            break;
        }
        if (status == FrameStatus::empty) {
            continue;
        }
        std::string reply;
        if (status == FrameStatus::message) {
            reply = dispatchCommand(host, body);
        }
        // A refused body gets a frame of length 0, like any request without
        // an answer. A reply that cannot be written ends the host: nobody reads.
        if (!writeNativeMessage(output, reply)) {
            break;
        }
    }
    return 0;
}

}  // namespace orva::native_host
