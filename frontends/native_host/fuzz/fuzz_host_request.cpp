// Fuzzes one request body through the host's parser, key checks and handlers,
// over stand-in exports. Input: the body as the browser frames it.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dispatch.h"
#include "host_state.h"
#include "stub_api.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orva::native_host;
    // State carries over between inputs, as it does between requests.
    static HostState host;
    if (!host.binding.bound()) {
        host.binding.bindInProcess(fuzz::stubApi());
    }
    dispatchCommand(host, std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
