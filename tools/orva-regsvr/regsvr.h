#pragma once

// orva-regsvr: registers or unregisters a COM server module by calling its
// DllRegisterServer or DllUnregisterServer.

#include <string>
#include <vector>

namespace orva::tools {

struct RegsvrOutcome {
    int exitCode = 0;     // 0 done, 1 the server failed, 2 usage, 3 not loadable
    std::string message;  // one line for the user
};

// args without the program name: [-u] MODULE
RegsvrOutcome runRegsvr(const std::vector<std::string>& args);

}  // namespace orva::tools
