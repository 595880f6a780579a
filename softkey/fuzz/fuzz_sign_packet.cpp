// Input: first byte picks the form (even 2 binary, odd 1 text), the rest is the packet.

#include <cstddef>
#include <cstdint>
#include <span>

#include "sign_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint32_t form =
        (data[0] & 1) != 0 ? orva::softkey::kPacketFormText : orva::softkey::kPacketFormBinary;
    const std::span<const std::uint8_t> packet(data + 1, size - 1);
    const auto view = orva::softkey::parseSignPacket(form, packet);
    if (view) {
        // Every part the parser hands out lies inside the packet.
        for (const auto part : {view->transaction, view->display, view->fileField}) {
            if (!part.empty() && (part.data() < packet.data() ||
                                  part.data() + part.size() > packet.data() + packet.size())) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
