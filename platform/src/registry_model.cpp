#include "registry_model.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace orva::platform::registry {

namespace {

char foldChar(char c) noexcept {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool hasLineOrNul(std::string_view name) noexcept {
    return name.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

constexpr std::array<std::string_view, 3> kStoredRoots = {kLocalMachine, kCurrentUser, kUsers};

}  // namespace

std::string foldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        c = foldChar(c);
    }
    return folded;
}

bool sameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldChar(a[i]) != foldChar(b[i])) {
            return false;
        }
    }
    return true;
}

bool validKeyName(std::string_view name) noexcept {
    return !name.empty() && name.size() <= kMaxKeyNameLength &&
           name.find('\\') == std::string_view::npos && !hasLineOrNul(name);
}

bool validValueName(std::string_view name) noexcept {
    return name.size() <= kMaxValueNameLength && !hasLineOrNul(name);
}

// ---- Key

Key::Key(std::string name) : name_(std::move(name)), folded_(foldName(name_)) {}

Key::~Key() {
    // Take the tree apart level by level so that a deep tree never recurses.
    std::vector<std::unique_ptr<Key>> pending = std::move(children_);
    while (!pending.empty()) {
        std::unique_ptr<Key> key = std::move(pending.back());
        pending.pop_back();
        for (auto& child : key->children_) {
            pending.push_back(std::move(child));
        }
        key->children_.clear();
    }
}

std::unique_ptr<Key> Key::clone() const {
    auto copy = std::make_unique<Key>(name_);
    copy->values_ = values_;
    copy->valueIndex_ = valueIndex_;
    std::vector<std::pair<const Key*, Key*>> pending{{this, copy.get()}};
    while (!pending.empty()) {
        auto [from, to] = pending.back();
        pending.pop_back();
        to->children_.reserve(from->children_.size());
        for (const auto& child : from->children_) {
            auto childCopy = std::make_unique<Key>(child->name_);
            childCopy->values_ = child->values_;
            childCopy->valueIndex_ = child->valueIndex_;
            pending.emplace_back(child.get(), childCopy.get());
            to->children_.push_back(std::move(childCopy));
        }
    }
    return copy;
}

const Value* Key::findValue(std::string_view name) const {
    auto it = valueIndex_.find(foldName(name));
    return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

bool Key::setValue(std::string_view name, DWORD type, Bytes data) {
    std::string folded = foldName(name);
    auto it = valueIndex_.find(folded);
    if (it != valueIndex_.end()) {
        Value& value = values_[it->second];
        if (value.type == type && value.data == data) {
            return false;
        }
        value.type = type;
        value.data = std::move(data);
        return true;
    }
    values_.push_back(Value{std::string(name), type, std::move(data)});
    try {
        valueIndex_.emplace(std::move(folded), values_.size() - 1);
    } catch (...) {
        values_.pop_back();
        throw;
    }
    return true;
}

bool Key::deleteValue(std::string_view name) {
    auto it = valueIndex_.find(foldName(name));
    if (it == valueIndex_.end()) {
        return false;
    }
    const std::size_t position = it->second;
    valueIndex_.erase(it);
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
    for (auto& entry : valueIndex_) {
        if (entry.second > position) {
            --entry.second;
        }
    }
    return true;
}

bool Key::clearValues() {
    const bool had = !values_.empty();
    values_.clear();
    valueIndex_.clear();
    return had;
}

std::size_t Key::lowerBound(const std::string& folded) const {
    auto it = std::lower_bound(children_.begin(), children_.end(), folded,
                               [](const std::unique_ptr<Key>& child, const std::string& name) {
                                   return child->folded_ < name;
                               });
    return static_cast<std::size_t>(it - children_.begin());
}

const Key* Key::findChild(std::string_view name) const {
    const std::string folded = foldName(name);
    const std::size_t at = lowerBound(folded);
    if (at < children_.size() && children_[at]->folded_ == folded) {
        return children_[at].get();
    }
    return nullptr;
}

Key* Key::findChild(std::string_view name) {
    return const_cast<Key*>(std::as_const(*this).findChild(name));
}

Key& Key::addChild(std::string_view name, bool* created) {
    const std::string folded = foldName(name);
    const std::size_t at = lowerBound(folded);
    if (at < children_.size() && children_[at]->folded_ == folded) {
        if (created != nullptr) {
            *created = false;
        }
        return *children_[at];
    }
    auto child = std::make_unique<Key>(std::string(name));
    Key& added = *child;
    children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(at), std::move(child));
    if (created != nullptr) {
        *created = true;
    }
    return added;
}

bool Key::removeChild(std::string_view name) {
    const std::string folded = foldName(name);
    const std::size_t at = lowerBound(folded);
    if (at < children_.size() && children_[at]->folded_ == folded) {
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    }
    return false;
}

bool Key::clearChildren() {
    const bool had = !children_.empty();
    // Moved out first so that ~Key takes the subtrees apart without recursion.
    Key scratch{std::string()};
    scratch.children_ = std::move(children_);
    children_.clear();
    return had;
}

bool Key::sortsAfterChildren(const std::string& folded) const noexcept {
    return children_.empty() || children_.back()->folded_ < folded;
}

void Key::adoptChildren(std::vector<std::unique_ptr<Key>> added) {
    const auto byName = [](const std::unique_ptr<Key>& a, const std::unique_ptr<Key>& b) {
        return a->folded_ < b->folded_;
    };
    std::sort(added.begin(), added.end(), byName);
    if (children_.empty()) {
        children_ = std::move(added);
        return;
    }
    std::vector<std::unique_ptr<Key>> merged;
    merged.reserve(children_.size() + added.size());
    std::merge(std::make_move_iterator(children_.begin()), std::make_move_iterator(children_.end()),
               std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()),
               std::back_inserter(merged), byName);
    children_ = std::move(merged);
}

// ---- Hive

Hive::Hive() : top_(std::make_unique<Key>(std::string())) {
    for (std::string_view root : kStoredRoots) {
        top_->addChild(root, nullptr);
    }
}

std::unique_ptr<Hive> Hive::clone() const {
    return std::unique_ptr<Hive>(new Hive(top_->clone()));
}

const Key* Hive::find(const KeyPath& path) const {
    const Key* key = top_.get();
    for (const std::string& name : path) {
        key = key->findChild(name);
        if (key == nullptr) {
            return nullptr;
        }
    }
    return path.empty() ? nullptr : key;
}

Key* Hive::find(const KeyPath& path) {
    return const_cast<Key*>(std::as_const(*this).find(path));
}

Key* Hive::create(const KeyPath& path, bool* created) {
    if (created != nullptr) {
        *created = false;
    }
    if (path.empty()) {
        return nullptr;
    }
    Key* key = top_->findChild(path.front());
    if (key == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 1; i < path.size(); ++i) {
        bool made = false;
        key = &key->addChild(path[i], &made);
        if (made && created != nullptr) {
            *created = true;
        }
    }
    return key;
}

bool Hive::remove(const KeyPath& path) {
    if (path.size() < 2) {
        return false;
    }
    Key* parent = find(KeyPath(path.begin(), path.end() - 1));
    return parent != nullptr && parent->removeChild(path.back());
}

// ---- KeyInserter

Key* KeyInserter::create(const KeyPath& path) {
    if (path.empty()) {
        return nullptr;
    }
    Key* key = hive_.top().findChild(path.front());
    if (key == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (Key* existing = key->findChild(path[i])) {
            key = existing;
            continue;
        }
        const std::string folded = foldName(path[i]);
        const auto waiting = pending_.find(key);
        if (waiting != pending_.end()) {
            if (const auto it = waiting->second.find(folded); it != waiting->second.end()) {
                key = it->second.get();
                continue;
            }
        }
        // A file in order (as this layer writes them) appends every subkey.
        if (key->sortsAfterChildren(folded)) {
            key = &key->addChild(path[i], nullptr);
            continue;
        }
        auto child = std::make_unique<Key>(path[i]);
        Key* made = child.get();
        pending_[key].emplace(made->foldedName(), std::move(child));
        key = made;
    }
    return key;
}

void KeyInserter::finish() {
    for (auto& [parent, waiting] : pending_) {
        std::vector<std::unique_ptr<Key>> added;
        added.reserve(waiting.size());
        for (auto& entry : waiting) {
            added.push_back(std::move(entry.second));
        }
        parent->adoptChildren(std::move(added));
    }
    pending_.clear();
}

// ---- paths and views

std::optional<KeyPath> predefinedPath(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) {
        return KeyPath{std::string(kLocalMachine)};
    }
    if (key == HKEY_CURRENT_USER) {
        return KeyPath{std::string(kCurrentUser)};
    }
    if (key == HKEY_USERS) {
        return KeyPath{std::string(kUsers)};
    }
    if (key == HKEY_CLASSES_ROOT) {
        return KeyPath{std::string(kLocalMachine), "SOFTWARE", "Classes"};
    }
    return std::nullopt;
}

std::optional<KeyPath> rootPath(std::string_view name, bool allowShort) {
    if (sameName(name, kLocalMachine) || (allowShort && sameName(name, "HKLM"))) {
        return predefinedPath(HKEY_LOCAL_MACHINE);
    }
    if (sameName(name, kCurrentUser) || (allowShort && sameName(name, "HKCU"))) {
        return predefinedPath(HKEY_CURRENT_USER);
    }
    if (sameName(name, kUsers) || (allowShort && sameName(name, "HKU"))) {
        return predefinedPath(HKEY_USERS);
    }
    if (sameName(name, kClassesRoot) || (allowShort && sameName(name, "HKCR"))) {
        return predefinedPath(HKEY_CLASSES_ROOT);
    }
    return std::nullopt;
}

LSTATUS appendSubkey(KeyPath& path, const char* subkey) {
    if (subkey == nullptr || *subkey == '\0') {
        return ERROR_SUCCESS;
    }
    std::string_view rest(subkey);
    if (rest.front() == '\\') {
        return ERROR_BAD_PATHNAME;
    }
    if (rest.back() == '\\') {
        rest.remove_suffix(1);
    }
    KeyPath extended = path;
    for (;;) {
        const std::size_t slash = rest.find('\\');
        const std::string_view name = rest.substr(0, slash);
        if (name.empty()) {
            return ERROR_BAD_PATHNAME;
        }
        if (!validKeyName(name) || extended.size() >= kMaxDepth) {
            return ERROR_INVALID_PARAMETER;
        }
        extended.emplace_back(name);
        if (slash == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(slash + 1);
    }
    path = std::move(extended);
    return ERROR_SUCCESS;
}

LSTATUS viewOf(REGSAM sam, bool* wow32) noexcept {
    const bool want32 = (sam & KEY_WOW64_32KEY) != 0;
    const bool want64 = (sam & KEY_WOW64_64KEY) != 0;
    if (want32 && want64) {
        return ERROR_INVALID_PARAMETER;
    }
    *wow32 = want32;
    return ERROR_SUCCESS;
}

void mapTo32BitView(KeyPath& path) {
    if (path.size() >= 3 && sameName(path[0], kLocalMachine) && sameName(path[1], "SOFTWARE") &&
        !sameName(path[2], kWow64Node)) {
        path.insert(path.begin() + 2, std::string(kWow64Node));
    }
}

REGSAM grantedAccess(REGSAM sam) noexcept {
    return sam & ~static_cast<REGSAM>(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
}

bool isWithin(const KeyPath& path, const KeyPath& ancestor) noexcept {
    if (path.size() < ancestor.size()) {
        return false;
    }
    for (std::size_t i = 0; i < ancestor.size(); ++i) {
        if (!sameName(path[i], ancestor[i])) {
            return false;
        }
    }
    return true;
}

std::string joinPath(const KeyPath& path) {
    std::string joined;
    for (const std::string& name : path) {
        if (!joined.empty()) {
            joined += '\\';
        }
        joined += name;
    }
    return joined;
}

}  // namespace orva::platform::registry
