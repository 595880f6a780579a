#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "orva/registry_file.h"
#include "tool.h"

namespace orva::reg_tool {

namespace {

void writeFile(const std::string& path, const std::string& text, bool overwrite) {
    // Without /y an existing file is refused: there is no prompt to ask.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL), 0644);
    if (fd < 0) {
        if (errno == EEXIST) {
            throw Failure(path + " already exists; add /y to overwrite it");
        }
        throw Failure("cannot write " + path + ": " + std::strerror(errno));
    }
    std::size_t done = 0;
    int error = 0;
    while (done < text.size() && error == 0) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0) {
            error = errno == EINTR ? 0 : errno;
        } else {
            done += static_cast<std::size_t>(wrote);
        }
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        throw Failure("cannot write " + path + ": " + std::strerror(error));
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
