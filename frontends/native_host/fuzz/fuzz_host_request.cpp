// Fuzzes request bodies through the host's parser, key checks and handlers,
// over stand-in exports. Input: bodies as the browser frames them, one after
// another, separated by a NUL byte (a long result and its "GetDataPackage"
// pieces need several).

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
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
        const std::size_t end = rest.find('\0');
        dispatchCommand(host, rest.substr(0, end));
        if (end == std::string_view::npos) {
            return 0;
        }
        rest.remove_prefix(end + 1);
    }
}
