#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "orva/registry_file.h"
#include "tool.h"
#include "win32/errors.h"

namespace orva::reg_tool {

namespace {

struct CloseFile {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, CloseFile>;

// The library refuses texts beyond its limit; reading stops a little past it.
constexpr std::size_t kReadLimit = (std::size_t{64} << 20) + 1;

std::string readFile(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw Failure("cannot read " + path + ": " + std::strerror(errno));
    }
    std::string text;
    char buffer[64 * 1024];
    while (text.size() < kReadLimit) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        text.append(buffer, got);
        if (got < sizeof buffer) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        throw Failure("cannot read " + path + ": " + std::strerror(errno));
    }
    return text;
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
