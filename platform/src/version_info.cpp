// Version resources read from a module's exported version block.
//
// The copy GetFileVersionInfoA makes is self-contained: a header, the fixed
// part, the translation, then each string as name NUL value NUL.

#include <dlfcn.h>
#include <strings.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "orva/c_owners.h"
#include "win32/errors.h"
#include "win32/version.h"

namespace {

constexpr char kMagic[4] = {'O', 'V', 'B', '1'};

struct CopyHeader {
    char magic[4];
    DWORD size;  // of the whole copy
    VS_FIXEDFILEINFO fixed;
    DWORD translation;  // language in the low word, code page in the high word
    DWORD stringCount;
};

// The block serialized; empty when the file has none or cannot be opened.
std::vector<char> serializedBlock(LPCSTR file) {
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    // A module in use is read where it is; another is mapped for the reading only.
    void* handle = dlopen(file, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    if (handle == nullptr) {
        handle = dlopen(file, RTLD_LAZY | RTLD_LOCAL);
    }
    if (handle == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return {};
    }
    const orva::DlHandle module(handle);
    const auto* block =
        static_cast<const OrvaVersionBlock*>(dlsym(module.get(), ORVA_VERSION_BLOCK_SYMBOL));
    if (block == nullptr) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return {};
    }
    CopyHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.fixed = block->fixed;
    header.translation = DWORD{block->language} | (DWORD{block->codePage} << 16);
    header.stringCount = block->stringCount;
    std::vector<char> copy(sizeof header);
    for (DWORD i = 0; i < block->stringCount; ++i) {
        const OrvaVersionString& entry = block->strings[i];
        copy.insert(copy.end(), entry.name, entry.name + std::strlen(entry.name) + 1);
        copy.insert(copy.end(), entry.value, entry.value + std::strlen(entry.value) + 1);
    }
    header.size = static_cast<DWORD>(copy.size());
    std::memcpy(copy.data(), &header, sizeof header);
    return copy;
}

// The block carries no length of its own beyond what it says: only a block
// that starts as ours is read further.
bool validCopy(LPCVOID block, CopyHeader* header) {
    if (block == nullptr || std::memcmp(block, kMagic, sizeof kMagic) != 0) {
        return false;
    }
    std::memcpy(header, block, sizeof *header);
    return header->size >= sizeof *header;
}

// "\StringFileInfo\LLLLCCCC\Name": the value, when the translation matches.
const char* stringValue(const char* copy, const CopyHeader& header, std::string_view query) {
    constexpr std::string_view kPrefix = "\\StringFileInfo\\";
    if (query.substr(0, kPrefix.size()) != kPrefix) {
        return nullptr;
    }
    query.remove_prefix(kPrefix.size());
    char translation[16];
    std::snprintf(translation, sizeof translation, "%04x%04x",
                  static_cast<unsigned>(LOWORD(header.translation)),
                  static_cast<unsigned>(HIWORD(header.translation)));
    if (query.size() < 10 || strncasecmp(query.data(), translation, 8) != 0 || query[8] != '\\') {
        return nullptr;
    }
    const std::string_view name = query.substr(9);
    const char* end = copy + header.size;
    const char* cursor = copy + sizeof header;
    for (DWORD i = 0; i < header.stringCount && cursor < end; ++i) {
        const std::size_t nameLength = strnlen(cursor, static_cast<std::size_t>(end - cursor));
        const char* value = cursor + nameLength + 1;
        if (value >= end) {
            return nullptr;
        }
        const std::size_t valueLength = strnlen(value, static_cast<std::size_t>(end - value));
        if (value + valueLength >= end) {
            return nullptr;
        }
        if (std::string_view(cursor, nameLength) == name) {
            return value;
        }
        cursor = value + valueLength + 1;
    }
    return nullptr;
}

}  // namespace

ORVA_API_ENTRY DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle != nullptr) {
        *lpdwHandle = 0;
    }
    try {
        return static_cast<DWORD>(serializedBlock(lptstrFilename).size());
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

ORVA_API_ENTRY BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD /*dwHandle*/, DWORD dwLen,
                                        LPVOID lpData) {
    if (lpData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        const std::vector<char> copy = serializedBlock(lptstrFilename);
        if (copy.empty()) {
            return FALSE;
        }
        if (copy.size() > dwLen) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(lpData, copy.data(), copy.size());
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

ORVA_API_ENTRY BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer,
                                   UINT* puLen) {
    CopyHeader header{};
    if (lpSubBlock == nullptr || lplpBuffer == nullptr || puLen == nullptr ||
        !validCopy(pBlock, &header)) {
        return FALSE;
    }
    const auto* copy = static_cast<const char*>(pBlock);
    const std::string_view query(lpSubBlock);
    if (query == "\\" || query.empty()) {
        *lplpBuffer = const_cast<char*>(copy + offsetof(CopyHeader, fixed));
        *puLen = sizeof(VS_FIXEDFILEINFO);
        return TRUE;
    }
    if (query == "\\VarFileInfo\\Translation") {
        *lplpBuffer = const_cast<char*>(copy + offsetof(CopyHeader, translation));
        *puLen = sizeof(DWORD);
        return TRUE;
    }
    const char* value = stringValue(copy, header, query);
    if (value == nullptr) {
        return FALSE;
    }
    *lplpBuffer = const_cast<char*>(value);
    *puLen = static_cast<UINT>(std::strlen(value) + 1);
    return TRUE;
}
