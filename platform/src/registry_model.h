#pragma once

// The registry in memory: keys with values and sorted subkeys, key paths, the
// predefined roots and the 32-bit view.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "orva/bytes.h"
#include "win32/errors.h"
#include "win32/registry.h"

namespace orva::platform::registry {

using orva::Bytes;

// An absolute key path: the stored root's name, then one name per level.
using KeyPath = std::vector<std::string>;

// Windows' limits, which also bound everything the parser accepts.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;
inline constexpr std::size_t kMaxDepth = 512;
inline constexpr std::size_t kMaxValueSize = std::size_t{4} << 20;

inline constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE";
inline constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";
inline constexpr std::string_view kUsers = "HKEY_USERS";
inline constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";
inline constexpr std::string_view kWow64Node = "Wow6432Node";

// Names compare with ASCII letters folded to upper case, as Windows orders
// them; every other byte (UTF-8 included) compares as itself.
std::string foldName(std::string_view name);
bool sameName(std::string_view a, std::string_view b) noexcept;

// A key name: 1..255 bytes, no backslash; no NUL, CR or LF, which the file
// could not hold.
bool validKeyName(std::string_view name) noexcept;
// A value name: 0..16383 bytes (empty is the default value), no NUL, CR or LF.
bool validValueName(std::string_view name) noexcept;

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    Bytes data;
};

class Key {
  public:
    explicit Key(std::string name);
    ~Key();
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    const std::string& name() const noexcept { return name_; }
    const std::string& foldedName() const noexcept { return folded_; }
    // A deep copy, made without recursion.
    std::unique_ptr<Key> clone() const;

    // Values in the order they were first set.
    const std::vector<Value>& values() const noexcept { return values_; }
    const Value* findValue(std::string_view name) const;
    // An existing value keeps its name's case. False when nothing changed.
    bool setValue(std::string_view name, DWORD type, Bytes data);
    bool deleteValue(std::string_view name);
    bool clearValues();

    // Subkeys in case-insensitive order, as enumeration returns them.
    std::size_t childCount() const noexcept { return children_.size(); }
    const Key& childAt(std::size_t index) const { return *children_.at(index); }
    const Key* findChild(std::string_view name) const;
    Key* findChild(std::string_view name);
    Key& addChild(std::string_view name, bool* created);
    bool removeChild(std::string_view name);
    bool clearChildren();
    // Whether a subkey of that folded name would go after every subkey.
    bool sortsAfterChildren(const std::string& folded) const noexcept;
    // Sorts added into the subkeys in one pass; no name may be there already.
    void adoptChildren(std::vector<std::unique_ptr<Key>> added);

  private:
    std::size_t lowerBound(const std::string& folded) const;

    std::string name_;
    std::string folded_;
    std::vector<Value> values_;
    std::unordered_map<std::string, std::size_t> valueIndex_;  // folded name -> position
    std::vector<std::unique_ptr<Key>> children_;               // sorted by folded_
};

// The whole registry: the stored roots HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER
// and HKEY_USERS always exist; HKEY_CLASSES_ROOT lives inside the first.
class Hive {
  public:
    Hive();
    std::unique_ptr<Hive> clone() const;

    const Key& top() const noexcept { return *top_; }
    Key& top() noexcept { return *top_; }
    const Key* find(const KeyPath& path) const;
    Key* find(const KeyPath& path);
    // Creates every missing level; null when the path's root is unknown.
    Key* create(const KeyPath& path, bool* created);
    // Removes a key and everything below it; roots are never removed.
    bool remove(const KeyPath& path);

  private:
    explicit Hive(std::unique_ptr<Key> top) : top_(std::move(top)) {}
    std::unique_ptr<Key> top_;
};

// Creates keys as Hive::create does, for many paths in any order: a new
// subkey waits beside its parent, unsorted, until finish() sorts each
// parent's new subkeys into place at once, so that n keys cost O(n log n)
// rather than a sorted insertion each. Until finish() the new keys are found
// only through create(); what is not finished is dropped.
class KeyInserter {
  public:
    explicit KeyInserter(Hive& hive) : hive_(hive) {}
    KeyInserter(const KeyInserter&) = delete;
    KeyInserter& operator=(const KeyInserter&) = delete;

    Key* create(const KeyPath& path);
    void finish();

  private:
    // A parent's new subkeys by folded name (a view of the key's own).
    using Pending = std::unordered_map<std::string_view, std::unique_ptr<Key>>;
    Hive& hive_;
    std::unordered_map<Key*, Pending> pending_;
};

// Where a predefined handle points; nullopt for any other value.
std::optional<KeyPath> predefinedPath(HKEY key);
// A root by name, case-insensitively: the long names, and with allowShort
// also HKLM, HKCU, HKCR and HKU. HKEY_CLASSES_ROOT gives its stored path.
std::optional<KeyPath> rootPath(std::string_view name, bool allowShort);

// Appends a caller's relative subkey to path. Null or empty adds nothing; a
// leading backslash or an empty level is ERROR_BAD_PATHNAME; one trailing
// backslash is accepted, as Windows does.
LSTATUS appendSubkey(KeyPath& path, const char* subkey);
// Reads the view flags of an access mask: both at once are invalid.
LSTATUS viewOf(REGSAM sam, bool* wow32) noexcept;
// HKEY_LOCAL_MACHINE\SOFTWARE\X becomes ...\SOFTWARE\Wow6432Node\X for the
// 32-bit view; paths already there, and every other path, stay.
void mapTo32BitView(KeyPath& path);
// The access rights a handle keeps: the mask without its view flags.
REGSAM grantedAccess(REGSAM sam) noexcept;

// Whether path is ancestor or lies below it (case-insensitively).
bool isWithin(const KeyPath& path, const KeyPath& ancestor) noexcept;
// "HKEY_LOCAL_MACHINE\SOFTWARE\X".
std::string joinPath(const KeyPath& path);

}  // namespace orva::platform::registry
