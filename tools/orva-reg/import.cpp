#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "orva/file_descriptor.h"
#include "orva/read_all.h"
#include "orva/registry_file.h"
#include "tool.h"
#include "win32/errors.h"

namespace orva::reg_tool {

namespace {

// The library refuses texts beyond its limit and says so; reading stops just
// past it.
constexpr std::size_t kReadLimit = std::size_t{64} << 20;

std::string readFile(const std::string& path) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        throw Failure("cannot read " + path + ": " + std::strerror(errno));
    }
    ReadResult text = readAll<std::string>(file.get(), kReadLimit);
    if (!text && text.error != EFBIG) {
        throw Failure("cannot read " + path + ": " + std::strerror(text.error));
    }
    return std::move(text.data);
}

}  // namespace

int runImport(const Arguments& args) {
    expectPositional(args, 1, "FILE");
    const std::string& path = args.positional[0];
    const std::string text = readFile(path);
    platform::RegistryTextError error;
    const LSTATUS status = platform::importRegistryText(text, args.view, &error);
    if (status == ERROR_INVALID_PARAMETER && !error.reason.empty()) {
        throw Failure(path + ":" + std::to_string(error.line) + ": " + error.reason +
                      " (nothing was imported)");
    }
    check(status);
    std::puts(kDone);
    return 0;
}

}  // namespace orva::reg_tool
