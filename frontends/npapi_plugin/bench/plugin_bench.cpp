// plugin_bench: the plug-in measured as a page uses it, through the stand-in
// browser in this process, warm (bound, key present, object made):
//   - GetVersion, which never reaches the library: the plug-in's own cost of
//     a call (identifier lookup, held slot, two browser blocks);
//   - GetMediaID and GMUsbKeySign (SM2, a 1 KiB transaction) on a software key.
// Calls per second and median latency for each.
// Usage: plugin_bench [--calls N] [--signs N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "orva/testing/support.h"
#include "plugin_session.h"

namespace {

using namespace orva::npapi_host;
using Clock = std::chrono::steady_clock;

void run(const orva::testing::TempDir& folder, const std::string& command) {
    const auto result = orva::testing::runCommand(
        "cd " + orva::testing::shellQuote(folder.path().string()) +
        " && PATH=" + orva::testing::shellQuote(ORVA_BIN_DIR) + ":\"$PATH\" " + command);
    if (result.status != 0) {
        throw std::runtime_error(command + ": " + result.output);
    }
}

void measure(PluginSession& session, const char* label, const std::vector<ScriptValue>& args,
             const char* method, int calls) {
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(calls));
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < calls; ++i) {
        const Clock::time_point before = Clock::now();
        const CallResult result = session.invoke(method, args);
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - before).count());
        if (!std::holds_alternative<std::string>(result.value)) {
            throw std::runtime_error(std::string(method) + " answered " + printable(result.value));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::nth_element(latencies.begin(), latencies.begin() + calls / 2, latencies.end());
    std::printf("%-44s %6d calls  %10.0f calls/s  median %.4f ms\n", label, calls, calls / seconds,
                latencies[static_cast<std::size_t>(calls / 2)]);
}

}  // namespace

int main(int argc, char** argv) {
    int calls = 20000;
    int signs = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--calls") == 0) {
            calls = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--signs") == 0) {
            signs = std::atoi(argv[i + 1]);
        }
    }
    if (calls <= 0 || signs <= 0) {
        std::fputs("usage: plugin_bench [--calls N] [--signs N]\n", stderr);
        return 2;
    }
    try {
        const orva::testing::TempDir folder("orva_plugin_bench");
        setenv("ORVA_REGISTRY", folder.file("registry.reg").c_str(), 1);
        setenv("ORVA_SOFTKEY_DIR", folder.file("softkey").c_str(), 1);
        setenv("TMPDIR", folder.path().c_str(), 1);
        run(folder, "orva-setup register >/dev/null");
        run(folder, "softkey create --sn SK0000000001 >/dev/null");
        run(folder, "softkey user --pin 12345678 >/dev/null");
        run(folder,
            "softkey provision --sn SK0000000001 --alg sm2 --type 3 --subject 'CN=Zhang San' "
            ">/dev/null");
        StandInBrowser browser;
        {
            PluginSession session(browser, std::string(ORVA_BIN_DIR) + "/nporva_firefox_XR.so");
            session.invoke("GetMediaID", {});
            measure(session, "GetVersion (no library)", {}, "GetVersion", calls);
            measure(session, "GetMediaID (software key)", {}, "GetMediaID", calls / 10);
            const std::vector<ScriptValue> sign = {std::string("CN=Zhang San"), std::string("SM3"),
                                                   std::string(1024, 'x'),
                                                   std::string("Pay 100.00"), std::string()};
            measure(session, "GMUsbKeySign, SM2, 1 KiB transaction", sign, "GMUsbKeySign", signs);
        }
        if (!browser.balanced()) {
            throw std::runtime_error("browser memory left over");
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "plugin_bench: %s\n", error.what());
        return 1;
    }
}
