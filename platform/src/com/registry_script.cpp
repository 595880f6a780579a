// The registrar: parses a server's registry script and writes or removes
// the keys it names under HKEY_CLASSES_ROOT.

#include <cctype>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "class_registry.h"
#include "orva/com_registration.h"

namespace orva::platform {

namespace {

using com::RegistryKey;

struct ScriptKey {
    enum class Removal { normal, noRemove, forceRemove };
    Removal removal = Removal::normal;
    std::string name;
    std::optional<std::string> defaultValue;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<ScriptKey> children;
};

// %MODULE% becomes the module's path with its quotes doubled, so that the path
// stays one quoted text; "%%" is one '%'. nullopt for any other variable.
std::optional<std::string> substituted(std::string_view script, std::string_view modulePath) {
    std::string escapedPath;
    for (const char c : modulePath) {
        escapedPath += c;
        if (c == '\'') {
            escapedPath += '\'';
        }
    }
    std::string text;
    for (std::size_t i = 0; i < script.size(); ++i) {
        if (script[i] != '%') {
            text += script[i];
            continue;
        }
        const std::size_t end = script.find('%', i + 1);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view name = script.substr(i + 1, end - i - 1);
        if (name.empty()) {
            text += '%';
        } else if (name == "MODULE") {
            text += escapedPath;
        } else {
            return std::nullopt;
        }
        i = end;
    }
    return text;
}

class Parser {
  public:
    explicit Parser(std::string text) : text_(std::move(text)) {}

    // The hive and its keys; nullopt when the script does not parse.
    std::optional<std::vector<ScriptKey>> script() {
        const std::optional<std::string> hive = token();
        if (!hive || (*hive != "HKCR" && *hive != "HKEY_CLASSES_ROOT") || !expect("{")) {
            return std::nullopt;
        }
        std::vector<ScriptKey> keys;
        if (!block(keys)) {
            return std::nullopt;
        }
        skipSpace();
        if (pos_ != text_.size()) {
            return std::nullopt;
        }
        return keys;
    }

  private:
    void skipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
    }

    // Whether the next token is c (a brace standing alone, or '=').
    bool peek(char c) {
        skipSpace();
        if (pos_ >= text_.size() || text_[pos_] != c) {
            return false;
        }
        return c == '=' || pos_ + 1 == text_.size() ||
               std::isspace(static_cast<unsigned char>(text_[pos_ + 1]));
    }

    // A brace or '=', a quoted text (its quotes doubled inside) or a bare word.
    std::optional<std::string> token(bool* quoted = nullptr) {
        skipSpace();
        if (pos_ >= text_.size()) {
            return std::nullopt;
        }
        const char c = text_[pos_];
        // A brace stands alone; "{F0682987-...}" is a key name.
        const bool alone =
            pos_ + 1 == text_.size() || std::isspace(static_cast<unsigned char>(text_[pos_ + 1]));
        if (((c == '{' || c == '}') && alone) || c == '=') {
            ++pos_;
            return std::string(1, c);
        }
        if (c == '\'') {
            std::string value;
            for (++pos_; pos_ < text_.size(); ++pos_) {
                if (text_[pos_] == '\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                        value += '\'';
                        ++pos_;
                        continue;
                    }
                    ++pos_;
                    if (quoted != nullptr) {
                        *quoted = true;
                    }
                    return value;
                }
                value += text_[pos_];
            }
            return std::nullopt;
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
               text_[pos_] != '=' && text_[pos_] != '\'') {
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    bool expect(const char* word) {
        const std::optional<std::string> next = token();
        return next && *next == word;
    }

    // "= s 'text'"
    std::optional<std::string> stringValue() {
        if (!expect("=") || !expect("s")) {
            return std::nullopt;
        }
        bool quoted = false;
        std::optional<std::string> value = token(&quoted);
        return quoted ? value : std::nullopt;
    }

    // Keys and values up to the closing brace.
    bool block(std::vector<ScriptKey>& keys, ScriptKey* owner = nullptr) {
        for (;;) {
            if (peek('}')) {
                ++pos_;
                return true;
            }
            bool quoted = false;
            std::optional<std::string> word = token(&quoted);
            if (!word || (!quoted && (word->empty() || *word == "{" || *word == "="))) {
                return false;
            }
            if (!quoted && *word == "val") {
                const std::optional<std::string> name = token();
                const std::optional<std::string> value = name ? stringValue() : std::nullopt;
                if (owner == nullptr || !value) {
                    return false;
                }
                owner->values.emplace_back(*name, *value);
                continue;
            }
            ScriptKey key;
            if (!quoted && (*word == "NoRemove" || *word == "ForceRemove")) {
                key.removal = *word == "NoRemove" ? ScriptKey::Removal::noRemove
                                                  : ScriptKey::Removal::forceRemove;
                word = token(&quoted);
                if (!word || word->empty()) {
                    return false;
                }
            }
            key.name = *word;
            if (peek('=')) {
                key.defaultValue = stringValue();
                if (!key.defaultValue) {
                    return false;
                }
            }
            if (peek('{')) {
                ++pos_;
                if (!block(key.children, &key)) {
                    return false;
                }
            }
            keys.push_back(std::move(key));
        }
    }

    std::string text_;
    std::size_t pos_ = 0;
};

std::string childPath(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "\\" + name;
}

HRESULT registerKey(const std::string& parent, const ScriptKey& key) {
    const std::string path = childPath(parent, key.name);
    if (key.removal == ScriptKey::Removal::forceRemove) {
        const HRESULT removed = com::deleteClassTree(path);
        if (FAILED(removed)) {
            return removed;
        }
    }
    RegistryKey created;
    HRESULT hr = com::createClassKey(path, &created);
    if (SUCCEEDED(hr) && key.defaultValue) {
        hr = com::setString(created, nullptr, *key.defaultValue);
    }
    for (const auto& [name, value] : key.values) {
        if (SUCCEEDED(hr)) {
            hr = com::setString(created, name.c_str(), value);
        }
    }
    for (const ScriptKey& child : key.children) {
        if (SUCCEEDED(hr)) {
            hr = registerKey(path, child);
        }
    }
    return hr;
}

HRESULT unregisterKey(const std::string& parent, const ScriptKey& key) {
    const std::string path = childPath(parent, key.name);
    if (!com::classKeyExists(path)) {
        return S_OK;
    }
    if (key.removal == ScriptKey::Removal::forceRemove) {
        return com::deleteClassTree(path);
    }
    for (const ScriptKey& child : key.children) {
        const HRESULT hr = unregisterKey(path, child);
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (key.removal == ScriptKey::Removal::noRemove) {
        return S_OK;
    }
    // A key that still holds subkeys the script does not name is someone else's too.
    return com::deleteClassKeyIfEmpty(path);
}

}  // namespace

HRESULT runRegistryScript(std::string_view script, std::string_view modulePath,
                          bool registering) noexcept {
    try {
        const std::optional<std::string> text = substituted(script, modulePath);
        if (!text) {
            return E_INVALIDARG;
        }
        const std::optional<std::vector<ScriptKey>> keys = Parser(*text).script();
        if (!keys) {
            return E_INVALIDARG;
        }
        for (const ScriptKey& key : *keys) {
            const HRESULT hr = registering ? registerKey("", key) : unregisterKey("", key);
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace orva::platform
