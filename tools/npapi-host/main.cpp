// npapi-host PLUGIN METHOD [ARG...]: loads a plug-in as a browser would, embeds
// one object, calls one method of its scriptable object and prints the result.

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "plugin_file.h"
#include "plugin_session.h"

namespace {

constexpr const char* kUsage =
    "usage: npapi-host PLUGIN METHOD [ARG...]\n"
    "Loads the plug-in file, checks that it handles application/orva-firefox-XR-plugin,\n"
    "embeds one object in a window, paints it and calls METHOD on its scriptable object.\n"
    "Arguments are typed as a page's script passes them: true, false, null, undefined,\n"
    "integers, other numbers (NaN, Infinity), \"text\" in double quotes, else text.\n"
    "Prints the result (a text as its bytes, a number in decimal) and a newline.\n"
    "Exit status: 0 called, 1 failed, 2 no such method or bad usage, 3 memory left over.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace orva::npapi_host;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string plugin = argv[1];
    const std::string method = argv[2];
    std::vector<ScriptValue> arguments;
    for (int i = 3; i < argc; ++i) {
        arguments.push_back(parseArgument(argv[i]));
    }
    try {
        const std::string mime = pluginMimeType(plugin);
        if (mime != kPluginMimeType) {
            std::fprintf(stderr, "npapi-host: %s does not handle %s\n", plugin.c_str(),
                         kPluginMimeType);
            return 1;
        }
        StandInBrowser browser;
        CallResult result;
        {
            PluginSession session(browser, plugin);
            result = session.invoke(method, arguments);
        }
        if (!result.invoked) {
            std::fprintf(stderr, "npapi-host: the object has no method %s\n", method.c_str());
            return 2;
        }
        const std::string text = printable(result.value);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        if (!browser.balanced()) {
            std::fprintf(stderr,
                         "npapi-host: %zu blocks (%zu bytes) and %zu objects left, %zu double "
                         "and %zu foreign frees, %zu object faults\n",
                         browser.allocator().liveBlocks(), browser.allocator().liveBytes(),
                         browser.liveObjects(), browser.allocator().doubleFrees(),
                         browser.allocator().foreignFrees(), browser.objectFaults());
            return 3;
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "npapi-host: %s\n", error.what());
        return 1;
    }
}
