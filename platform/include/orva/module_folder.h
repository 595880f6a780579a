#pragma once

// The folder a module was loaded from, where the product finds the modules
// beside it.

#include <string>
#include <vector>

#include "win32/module.h"

namespace orva {

struct ModuleFolder {
    enum class Outcome {
        found,     // folder holds the module's path up to and with its last '/'
        unknown,   // the module's path is not known
        tooLong,   // the module's path does not fit in the room given
        noFolder,  // the module's path has no '/'
    };
    Outcome outcome = Outcome::unknown;
    std::string folder;
};

// Reads the module's path through GetModuleFileNameA into room bytes: a path
// that fills them may be cut, and a cut path names the wrong folder. A byte
// search for '/' is exact in every ANSI code page we support (UTF-8, GBK,
// GB18030): none uses '/' as a trail byte.
inline ModuleFolder moduleFolder(HMODULE module, DWORD room) {
    std::vector<char> path(room, '\0');
    const DWORD length = room == 0 ? 0 : GetModuleFileNameA(module, path.data(), room);
    if (length == 0) {
        return {ModuleFolder::Outcome::unknown, {}};
    }
    if (length >= room) {
        return {ModuleFolder::Outcome::tooLong, {}};
    }
    std::string text(path.data(), length);
    const std::string::size_type slash = text.rfind('/');
    if (slash == std::string::npos) {
        return {ModuleFolder::Outcome::noFolder, {}};
    }
    text.resize(slash + 1);
    return {ModuleFolder::Outcome::found, std::move(text)};
}

}  // namespace orva
