// Reading a plug-in's MIME type as a browser scanning plug-ins does.

#include "plugin_file.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "win32/version.h"

namespace orva::npapi_host {

std::string pluginMimeType(const std::string& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) {
        return {};
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), handle, size, block.data())) {
        return {};
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) ||
        length < sizeof(DWORD)) {
        return {};
    }
    DWORD translation = 0;
    std::memcpy(&translation, value, sizeof translation);
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\MIMEType",
                  static_cast<unsigned>(LOWORD(translation)),
                  static_cast<unsigned>(HIWORD(translation)));
    if (!VerQueryValueA(block.data(), query, &value, &length) || length == 0) {
        return {};
    }
    return std::string(static_cast<const char*>(value), length - 1);
}

}  // namespace orva::npapi_host
