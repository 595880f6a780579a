// The main loop: read a frame, dispatch it, write the reply.

#include "host_loop.h"

#include <string>

#include "dispatch.h"
#include "native_message.h"

namespace orva::native_host {

namespace {

// The host's log points. The host writes nothing but frames, so they go nowhere.
template <class... Values>
void hostLog(const char* /*format*/, const Values&... /*values*/) noexcept {}

// Replies longer than this are logged by length alone.
constexpr std::size_t kLogReplyLimit = 8'388'608;

}  // namespace

int runHost(int input, int output, HostState& host) noexcept {
    hostLog("--QZORVAExtension main--");
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
            hostLog("QZORVAExtension param = 0");
            break;
        }
        if (status == FrameStatus::empty) {
            hostLog("QZORVAExtension param = 0");
            continue;
        }
        std::string reply;
        if (status == FrameStatus::message) {
            hostLog("QZORVAExtension strParam = %s Len = %d", body, body.size());
            reply = dispatchCommand(host, body);
        }
        if (reply.size() > kLogReplyLimit) {
            hostLog("QZORVAExtension  Len = %d", reply.size());
        } else {
            hostLog("QZORVAExtension strResult = %s  Len = %d", reply, reply.size());
        }
        // A refused body gets a frame of length 0, like any request without
        // an answer. A reply that cannot be written ends the host: nobody reads.
        if (!writeNativeMessage(output, reply)) {
            break;
        }
    }
    hostLog("QZORVAExtension bExit == true");
    return 0;
}

}  // namespace orva::native_host
