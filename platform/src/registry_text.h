#pragma once

// The .reg text format: parsing (strict, bounded, no recursion) and writing.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "registry_model.h"

namespace orva::platform::registry {

// Larger files are refused rather than parsed.
inline constexpr std::size_t kMaxTextSize = std::size_t{64} << 20;

// Where and why a text was refused; line 0 means the text as a whole.
struct TextError {
    std::size_t line = 0;
    std::string reason;
};

// The registry file holds keys and values only; an import may also delete
// keys ([-KEY]) and values ("name"=-).
enum class TextKind { kRegistryFile, kImport };

struct ValueEntry {
    std::string name;  // empty: the default value
    bool remove = false;
    DWORD type = REG_NONE;
    Bytes data;
};

struct Section {
    KeyPath path;  // stored path: HKEY_CLASSES_ROOT already resolved
    bool remove = false;
    std::vector<ValueEntry> values;
};

struct Document {
    std::vector<Section> sections;
};

// Parses text; on failure fills error and returns false.
bool parseText(std::string_view text, TextKind kind, Document* document, TextError* error);

// Applies a document in order: sections create their keys (and ancestors),
// later values replace earlier ones. wow32 maps every path to the 32-bit view.
void applyDocument(const Document& document, bool wow32, Hive& hive);

// The registry file's text: every key except roots without values.
std::string writeHive(const Hive& hive);
// An export: the key at path and everything below it.
std::string writeKeyTree(const Key& key, const KeyPath& path);

}  // namespace orva::platform::registry
