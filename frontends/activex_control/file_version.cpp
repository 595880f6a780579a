// The file version of a module, from its version block.

#include "file_version.h"

#include <cstdio>
#include <vector>

namespace orva::control {

const VersionServices& platformVersionServices() noexcept {
    static const VersionServices services{&GetFileVersionInfoSizeA, &GetFileVersionInfoA,
                                          &VerQueryValueA};
    return services;
}

std::string fileVersionText(const char* file, const VersionServices& services) {
    DWORD handle = 0;
    const DWORD size = services.size(file, &handle);
    if (size == 0) {
        return {};
    }
    std::vector<char> block(size, '\0');
    if (!services.read(file, handle, size, block.data())) {
        return {};
    }
    void* fixed = nullptr;
    UINT length = 0;
    // A failed or short answer has no version to read.
    if (!services.query(block.data(), "\\", &fixed, &length) || fixed == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    char text[MAX_PATH] = {};
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", HIWORD(info->dwFileVersionMS),
                  LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                  LOWORD(info->dwFileVersionLS));
    return text;
}

}  // namespace orva::control
