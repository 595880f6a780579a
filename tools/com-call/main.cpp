// com-call PROGID METHOD [ARG...]: calls a method of a COM object by name, as
// a page's script would, and prints its result, or the error's code and
// description.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "com_call.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: com-call PROGID METHOD [ARG...]\n");
        return 2;
    }
    try {
        const orva::tools::CallOutcome outcome = orva::tools::callByName(
            argv[1], argv[2], std::vector<std::string>(argv + 3, argv + argc));
        std::string line;
        const int status = orva::tools::describeOutcome(outcome, &line);
        std::fprintf(status == 0 ? stdout : stderr, "%s\n", line.c_str());
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "com-call: %s\n", error.what());
        return 2;
    }
}
