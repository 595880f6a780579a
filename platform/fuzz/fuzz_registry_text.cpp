// Input: the whole input is a registry file's text (or an import's).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "registry_text.h"

namespace registry = orva::platform::registry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto kind : {registry::TextKind::kRegistryFile, registry::TextKind::kImport}) {
        registry::Document document;
        registry::TextError error;
        if (!registry::parseText(text, kind, &document, &error)) {
            continue;
        }
        if (kind != registry::TextKind::kRegistryFile) {
            continue;
        }
        // What parses is written back as a text that parses to the same file.
        registry::Hive hive;
        registry::applyDocument(document, false, hive);
        const std::string written = registry::writeHive(hive);
        registry::Document again;
        if (!registry::parseText(written, kind, &again, &error)) {
            __builtin_trap();
        }
        registry::Hive rebuilt;
        registry::applyDocument(again, false, rebuilt);
        if (registry::writeHive(rebuilt) != written) {
            __builtin_trap();
        }
    }
    return 0;
}
