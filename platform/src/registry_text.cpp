#include "registry_text.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "orva/hex.h"

namespace orva::platform::registry {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
// Lines of hex data are wrapped to stay within this width.
constexpr std::size_t kLineWidth = 80;

bool isBlank(char c) noexcept {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) noexcept {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool startsWithFolded(std::string_view s, std::string_view prefix) noexcept {
    return s.size() >= prefix.size() && sameName(s.substr(0, prefix.size()), prefix);
}

// 1 to 8 hex digits, nothing else.
bool parseHex32(std::string_view digits, DWORD* value) noexcept {
    if (digits.empty() || digits.size() > 8) {
        return false;
    }
    DWORD result = 0;
    for (char c : digits) {
        const int d = hexValue(c);
        if (d < 0) {
            return false;
        }
        result = (result << 4) | static_cast<DWORD>(d);
    }
    *value = result;
    return true;
}

// A name quoted in a message, cut short and with control bytes shown as '?'.
std::string shown(std::string_view name) {
    constexpr std::size_t kMax = 64;
    std::string out = "'";
    for (std::size_t i = 0; i < name.size() && i < kMax; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        out += c < 0x20 ? '?' : static_cast<char>(c);
    }
    if (name.size() > kMax) {
        out += "...";
    }
    out += "'";
    return out;
}

class Parser {
  public:
    Parser(std::string_view text, TextKind kind) : text_(text), kind_(kind) {}

    bool run(Document* document, TextError* error) {
        Document parsed;
        const bool ok = parse(parsed);
        if (ok) {
            *document = std::move(parsed);
        } else {
            *error = std::move(error_);
        }
        return ok;
    }

  private:
    bool fail(std::string reason) {
        error_.line = line_;
        error_.reason = std::move(reason);
        return false;
    }

    // The next line without its line break and surrounding blanks.
    bool nextLine(std::string_view* line) {
        if (pos_ >= text_.size()) {
            return false;
        }
        const std::size_t end = text_.find('\n', pos_);
        std::string_view raw =
            text_.substr(pos_, end == std::string_view::npos ? text_.size() - pos_ : end - pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        ++line_;
        if (!raw.empty() && raw.back() == '\r') {
            raw.remove_suffix(1);
        }
        *line = trim(raw);
        return true;
    }

    bool parse(Document& document) {
        if (text_.size() > kMaxTextSize) {
            return fail("the file is larger than " + std::to_string(kMaxTextSize >> 20) + " MiB");
        }
        if (text_.starts_with("\xFF\xFE") || text_.starts_with("\xFE\xFF")) {
            line_ = 1;
            return fail("UTF-16 text; the file must be UTF-8");
        }
        const std::size_t nul = text_.find('\0');
        if (nul != std::string_view::npos) {
            line_ = 1;
            for (std::size_t i = 0; i < nul; ++i) {
                line_ += text_[i] == '\n' ? 1 : 0;
            }
            return fail("NUL byte in the text");
        }
        if (text_.empty() && kind_ == TextKind::kRegistryFile) {
            return true;  // an empty file holds an empty registry
        }
        if (text_.starts_with("\xEF\xBB\xBF")) {
            pos_ = 3;
        }
        std::string_view line;
        if (!nextLine(&line) || (line != kHeader4 && line != kHeader5)) {
            line_ = 1;
            return fail("expected the header REGEDIT4");
        }

        std::size_t current = 0;  // index + 1 of the section values go to
        while (nextLine(&line)) {
            if (line.empty() || line.front() == ';') {
                continue;
            }
            if (line.front() == '[') {
                if (!parseSection(line, document)) {
                    return false;
                }
                current = document.sections.size();
            } else if (line.front() == '"' || line.front() == '@') {
                if (current == 0) {
                    return fail("value outside a [key] section");
                }
                Section& section = document.sections[current - 1];
                if (section.remove) {
                    return fail("value in the section of a deleted key");
                }
                if (!parseValue(line, section)) {
                    return false;
                }
            } else {
                return fail("unexpected text " + shown(line));
            }
        }
        return true;
    }

    bool parseSection(std::string_view line, Document& document) {
        if (line.size() < 2 || line.back() != ']') {
            return fail("key line does not end with ']'");
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        Section section;
        if (!inner.empty() && inner.front() == '-') {
            if (kind_ != TextKind::kImport) {
                return fail("key deletion [-KEY] is only allowed in an import file");
            }
            section.remove = true;
            inner.remove_prefix(1);
        }
        const std::size_t slash = inner.find('\\');
        const std::string_view rootName = inner.substr(0, slash);
        std::optional<KeyPath> root = rootPath(rootName, false);
        if (!root) {
            return fail("unknown root key " + shown(rootName));
        }
        section.path = std::move(*root);
        if (slash == std::string_view::npos) {
            if (section.remove) {
                return fail("a root key cannot be deleted");
            }
        } else {
            std::string_view rest = inner.substr(slash + 1);
            for (;;) {
                const std::size_t next = rest.find('\\');
                const std::string_view name = rest.substr(0, next);
                if (name.empty()) {
                    return fail("empty key name in the key path");
                }
                if (name.size() > kMaxKeyNameLength) {
                    return fail("key name longer than 255 bytes");
                }
                // The rule of the Reg* functions, so that every key read can
                // be opened, listed and deleted: here, no CR inside a line.
                if (!validKeyName(name)) {
                    return fail("line break in the key name " + shown(name));
                }
                if (section.path.size() >= kMaxDepth) {
                    return fail("key path deeper than 512 levels");
                }
                section.path.emplace_back(name);
                if (next == std::string_view::npos) {
                    break;
                }
                rest.remove_prefix(next + 1);
            }
        }
        document.sections.push_back(std::move(section));
        return true;
    }

    bool parseValue(std::string_view line, Section& section) {
        ValueEntry entry;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else {
            if (!parseQuoted(line, &pos, &entry.name)) {
                return false;
            }
            if (entry.name.size() > kMaxValueNameLength) {
                return fail("value name longer than 16383 bytes");
            }
            if (!validValueName(entry.name)) {
                return fail("line break in the value name " + shown(entry.name));
            }
        }
        while (pos < line.size() && isBlank(line[pos])) {
            ++pos;
        }
        if (pos >= line.size() || line[pos] != '=') {
            return fail("expected '=' after the value name");
        }
        const std::string_view data = trim(line.substr(pos + 1));

        if (data == "-") {
            if (kind_ != TextKind::kImport) {
                return fail("value deletion =- is only allowed in an import file");
            }
            entry.remove = true;
        } else if (!data.empty() && data.front() == '"') {
            std::size_t end = 0;
            std::string text;
            if (!parseQuoted(data, &end, &text)) {
                return false;
            }
            if (end != data.size()) {
                return fail("text after the closing quote");
            }
            if (text.size() >= kMaxValueSize) {
                return fail("value larger than " + std::to_string(kMaxValueSize) + " bytes");
            }
            entry.type = REG_SZ;
            entry.data.assign(text.begin(), text.end());
            entry.data.push_back(0);  // text values are stored with their terminator
        } else if (startsWithFolded(data, "dword:")) {
            DWORD number = 0;
            if (!parseHex32(data.substr(6), &number)) {
                return fail("dword: needs 1 to 8 hex digits");
            }
            entry.type = REG_DWORD;
            for (int shift = 0; shift < 32; shift += 8) {
                entry.data.push_back(static_cast<std::uint8_t>(number >> shift));
            }
        } else if (startsWithFolded(data, "hex:")) {
            entry.type = REG_BINARY;
            if (!parseHexList(data.substr(4), &entry.data)) {
                return false;
            }
        } else if (startsWithFolded(data, "hex(")) {
            const std::size_t close = data.find("):");
            if (close == std::string_view::npos ||
                !parseHex32(data.substr(4, close - 4), &entry.type)) {
                return fail("hex(N): needs a type of 1 to 8 hex digits");
            }
            if (!parseHexList(data.substr(close + 2), &entry.data)) {
                return false;
            }
        } else {
            return fail("unrecognised value data " + shown(data));
        }
        section.values.push_back(std::move(entry));
        return true;
    }

    // A string in double quotes starting at line[*pos]; only \\ and \" are
    // escapes. On success *pos is just past the closing quote.
    bool parseQuoted(std::string_view line, std::size_t* pos, std::string* out) {
        for (std::size_t i = *pos + 1; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"') {
                *pos = i + 1;
                return true;
            }
            if (c == '\\') {
                if (i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
                    *out += line[++i];
                    continue;
                }
                return fail(i + 1 < line.size() ? "unknown escape " + shown(line.substr(i, 2))
                                                : std::string("string not closed"));
            }
            *out += c;
        }
        return fail("string not closed");
    }

    // Comma-separated bytes of one or two hex digits; a backslash after a comma
    // continues the list on the next line.
    bool parseHexList(std::string_view line, Bytes* out) {
        bool afterComma = false;
        std::size_t i = 0;
        for (;;) {
            while (i < line.size() && isBlank(line[i])) {
                ++i;
            }
            if (i == line.size()) {
                if (afterComma) {
                    return fail("hex list ends with a comma");
                }
                return true;
            }
            if (line[i] == '\\') {
                if (!trim(line.substr(i + 1)).empty()) {
                    return fail("text after the line continuation");
                }
                if (!out->empty() && !afterComma) {
                    return fail("line continuation without a comma before it");
                }
                if (!nextLine(&line)) {
                    return fail("hex list continues past the end of the file");
                }
                i = 0;
                continue;
            }
            if (!out->empty() && !afterComma) {
                return fail("expected ',' between hex bytes");
            }
            int high = hexValue(line[i]);
            if (high < 0) {
                return fail("expected a hex byte");
            }
            ++i;
            int byte = high;
            if (i < line.size() && hexValue(line[i]) >= 0) {
                byte = high * 16 + hexValue(line[i]);
                ++i;
            }
            if (out->size() >= kMaxValueSize) {
                return fail("value larger than " + std::to_string(kMaxValueSize) + " bytes");
            }
            out->push_back(static_cast<std::uint8_t>(byte));
            afterComma = false;
            while (i < line.size() && isBlank(line[i])) {
                ++i;
            }
            if (i < line.size() && line[i] == ',') {
                afterComma = true;
                ++i;
            }
        }
    }

    std::string_view text_;
    TextKind kind_;
    std::size_t pos_ = 0;
    std::size_t line_ = 0;
    TextError error_;
};

// ---- writing

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

// The text of a string value when it can be written between quotes: no NUL
// but an optional terminator, and no line break.
bool stringForm(const Bytes& data, std::string_view* text) {
    std::size_t size = data.size();
    if (size > 0 && data[size - 1] == 0) {
        --size;
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') {
            return false;
        }
    }
    *text = std::string_view(reinterpret_cast<const char*>(data.data()), size);
    return true;
}

void appendHexList(std::string& out, std::size_t lineStart, const std::uint8_t* bytes,
                   std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        // Room for "xx," and a continuation backslash.
        if (out.size() - lineStart + 4 > kLineWidth) {
            out += "\\\n  ";
            lineStart = out.size() - 2;
        }
        out += hexDigit(bytes[i] >> 4);
        out += hexDigit(bytes[i]);
        if (i + 1 < size) {
            out += ',';
        }
    }
}

void appendHexValue(std::string& out, std::size_t lineStart, DWORD type, const std::uint8_t* bytes,
                    std::size_t size) {
    if (type == REG_BINARY) {
        out += "hex:";
    } else {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
        out += prefix;
    }
    appendHexList(out, lineStart, bytes, size);
}

void appendValue(std::string& out, const Value& value) {
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out += '@';
    } else {
        appendQuoted(out, value.name);
    }
    out += '=';
    std::string_view text;
    const Bytes& data = value.data;
    // A text gains its terminator when read back (or, expandable, when
    // written), so one that fills the size limit unterminated is written as
    // its bytes: the parser takes at most kMaxValueSize either way.
    const bool terminatorFits = stringForm(data, &text) && text.size() < kMaxValueSize;
    if (value.type == REG_SZ && terminatorFits) {
        // Written without its terminator, read back with one: a REG_SZ set
        // without a NUL reads back terminated.
        appendQuoted(out, text);
    } else if (value.type == REG_EXPAND_SZ && terminatorFits) {
        // Likewise terminated, as the hex of the text and its NUL.
        Bytes terminated(text.begin(), text.end());
        terminated.push_back(0);
        appendHexValue(out, lineStart, REG_EXPAND_SZ, terminated.data(), terminated.size());
    } else if (value.type == REG_DWORD && data.size() == 4) {
        const DWORD number = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                             static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(number));
        out += digits;
    } else {
        appendHexValue(out, lineStart, value.type, data.data(), data.size());
    }
    out += '\n';
}

void appendSection(std::string& out, const std::string& path, const Key& key) {
    out += '[';
    out += path;
    out += "]\n";
    for (const Value& value : key.values()) {
        appendValue(out, value);
    }
    out += '\n';
}

// Sections for key (if includeSelf) and every key below it, parents first
// and siblings in order; an explicit stack keeps deep trees off the C stack.
void appendSubtree(std::string& out, const Key& key, const std::string& path, bool includeSelf) {
    std::vector<std::pair<const Key*, std::string>> pending;
    auto pushChildren = [&pending](const Key& parent, const std::string& parentPath) {
        for (std::size_t i = parent.childCount(); i-- > 0;) {
            const Key& child = parent.childAt(i);
            pending.emplace_back(&child, parentPath + '\\' + child.name());
        }
    };
    if (includeSelf) {
        pending.emplace_back(&key, path);
    } else {
        pushChildren(key, path);
    }
    while (!pending.empty()) {
        auto [current, currentPath] = std::move(pending.back());
        pending.pop_back();
        appendSection(out, currentPath, *current);
        pushChildren(*current, currentPath);
    }
}

constexpr std::string_view kFileHeader = "REGEDIT4\n\n";

}  // namespace

bool parseText(std::string_view text, TextKind kind, Document* document, TextError* error) {
    return Parser(text, kind).run(document, error);
}

void applyDocument(const Document& document, bool wow32, Hive& hive) {
    KeyInserter inserter(hive);
    for (const Section& section : document.sections) {
        KeyPath path = section.path;
        if (wow32) {
            mapTo32BitView(path);
        }
        if (section.remove) {
            inserter.finish();
            hive.remove(path);
            continue;
        }
        Key* key = inserter.create(path);
        if (key == nullptr) {
            continue;  // not reached: the parser only accepts known roots
        }
        for (const ValueEntry& value : section.values) {
            if (value.remove) {
                key->deleteValue(value.name);
            } else {
                key->setValue(value.name, value.type, value.data);
            }
        }
    }
    inserter.finish();
}

std::string writeHive(const Hive& hive) {
    std::string out(kFileHeader);
    const Key& top = hive.top();
    for (std::size_t i = 0; i < top.childCount(); ++i) {
        const Key& root = top.childAt(i);
        if (!root.values().empty()) {
            appendSection(out, root.name(), root);
        }
        appendSubtree(out, root, root.name(), false);
    }
    return out;
}

std::string writeKeyTree(const Key& key, const KeyPath& path) {
    std::string out(kFileHeader);
    appendSubtree(out, key, joinPath(path), true);
    return out;
}

}  // namespace orva::platform::registry
