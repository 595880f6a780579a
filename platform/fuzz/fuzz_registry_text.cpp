// Input: the whole input is a registry file's text (or an import's).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "registry_text.h"

namespace registry = orva::platform::registry;

namespace {

// A registry written out parses as a file and writes back to the same text.
void checkWritesBack(const registry::Hive& hive) {
    const std::string written = registry::writeHive(hive);
    registry::Document again;
    registry::TextError error;
    if (!registry::parseText(written, registry::TextKind::kRegistryFile, &again, &error)) {
        __builtin_trap();
    }
    registry::Hive rebuilt;
    registry::applyDocument(again, false, rebuilt);
    if (registry::writeHive(rebuilt) != written) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    registry::Document file;
    registry::TextError error;
    registry::Hive hive;
    if (registry::parseText(text, registry::TextKind::kRegistryFile, &file, &error)) {
        registry::applyDocument(file, false, hive);
        checkWritesBack(hive);
    }
    // An import is applied over that registry, in either view, and written back.
    registry::Document import;
    if (registry::parseText(text, registry::TextKind::kImport, &import, &error)) {
        for (const bool wow32 : {false, true}) {
            const auto changed = hive.clone();
            registry::applyDocument(import, wow32, *changed);
            checkWritesBack(*changed);
        }
    }
    return 0;
}
