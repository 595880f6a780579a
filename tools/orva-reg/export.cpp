#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "orva/file_descriptor.h"
#include "orva/file_replacement.h"
#include "orva/registry_file.h"
#include "tool.h"

namespace orva::reg_tool {

namespace {

void writeFile(const std::string& path, const std::string& text, bool overwrite) {
    // Without /y an existing file is refused: there is no prompt to ask.
    FileDescriptor fd(::open(
        path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL), 0644));
    if (!fd) {
        if (errno == EEXIST) {
            throw Failure(path + " already exists; add /y to overwrite it");
        }
        throw Failure("cannot write " + path + ": " + std::strerror(errno));
    }
    if (!writeAll(fd.get(), text) || !fd.close()) {
        throw Failure("cannot write " + path + ": " + std::strerror(errno));
    }
}

}  // namespace

int runExport(const Arguments& args) {
    expectPositional(args, 2, "KEY and FILE");
    const KeyName key = parseKeyName(args.positional[0]);
    std::string text;
    platform::RegistryTextError error;
    check(platform::exportRegistryText(key.root, key.subkey.empty() ? nullptr : key.subkey.c_str(),
                                       args.view, &text, &error));
    writeFile(args.positional[1], text, args.overwrite);
    std::puts(kDone);
    return 0;
}

}  // namespace orva::reg_tool
