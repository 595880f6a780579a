// orva-regsvr [-u] MODULE: registers (or with -u unregisters) a COM server.

#include <cstdio>
#include <exception>

#include "regsvr.h"

int main(int argc, char** argv) {
    try {
        const orva::tools::RegsvrOutcome outcome =
            orva::tools::runRegsvr(std::vector<std::string>(argv + 1, argv + argc));
        std::fprintf(outcome.exitCode == 0 ? stdout : stderr, "%s\n", outcome.message.c_str());
        return outcome.exitCode;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orva-regsvr: %s\n", error.what());
        return 1;
    }
}
