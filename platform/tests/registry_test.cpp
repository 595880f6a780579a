// The file-backed registry through what ships: the Reg* exports and the
// registry file functions of libplatform.so, each test on its own file.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orva/registry_file.h"
#include "orva/testing/support.h"
#include "win32/errors.h"
#include "win32/registry.h"

namespace {

using namespace std::string_view_literals;
using Bytes = std::vector<BYTE>;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// An open key, closed at the end of the test.
class Key {
  public:
    Key() = default;
    ~Key() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &key_; }
    operator HKEY() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

struct Stored {
    DWORD type = REG_NONE;
    Bytes data;
    bool operator==(const Stored&) const = default;
};

void PrintTo(const Stored& stored, std::ostream* out) {
    *out << "type " << stored.type << ", bytes";
    for (BYTE b : stored.data) {
        *out << ' ' << std::hex << static_cast<int>(b) << std::dec;
    }
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orva-registry-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        file_ = dir_ + "/etc/registry.reg";
        useFile(file_);
    }
    void TearDown() override {
        ::unsetenv("ORVA_REGISTRY");
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    void useFile(const std::string& path) { ::setenv("ORVA_REGISTRY", path.c_str(), 1); }

    std::string readText(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string fileText() const { return readText(file_); }

    // Replaces the file as an outside editor would (a new inode).
    void writeText(const std::string& path, std::string_view text) const {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        const std::string temporary = path + ".editor";
        std::ofstream(temporary, std::ios::binary)
            .write(text.data(), static_cast<std::streamsize>(text.size()));
        std::filesystem::rename(temporary, path);
    }

    static LSTATUS create(HKEY root, const char* subkey, Key& key, REGSAM sam = KEY_ALL_ACCESS,
                          DWORD* disposition = nullptr) {
        return RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr,
                               key.out(), disposition);
    }
    static LSTATUS open(HKEY root, const char* subkey, Key& key, REGSAM sam = KEY_ALL_ACCESS) {
        return RegOpenKeyExA(root, subkey, 0, sam, key.out());
    }
    static LSTATUS set(HKEY key, const char* name, DWORD type, const Bytes& data) {
        return RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    static LSTATUS setText(HKEY key, const char* name, std::string_view text) {
        return set(key, name, REG_SZ, bytesOf(text));
    }
    static std::optional<Stored> get(HKEY key, const char* name) {
        Stored stored;
        DWORD size = 0;
        if (RegQueryValueExA(key, name, nullptr, &stored.type, nullptr, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        stored.data.resize(size);
        if (RegQueryValueExA(key, name, nullptr, &stored.type, stored.data.data(), &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        stored.data.resize(size);
        return stored;
    }
    static std::vector<std::string> subkeys(HKEY key) {
        std::vector<std::string> names;
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            const LSTATUS status =
                RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_SUCCESS) {
                EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
                return names;
            }
            names.emplace_back(name, length);
        }
    }
    static std::vector<std::string> valueNames(HKEY key) {
        std::vector<std::string> names;
        std::string name(16384, '\0');
        for (DWORD i = 0;; ++i) {
            DWORD length = static_cast<DWORD>(name.size());
            const LSTATUS status =
                RegEnumValueA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_SUCCESS) {
                EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
                return names;
            }
            names.emplace_back(name.data(), length);
        }
    }
    bool keyExists(HKEY root, const char* subkey) {
        Key key;
        return open(root, subkey, key, KEY_READ) == ERROR_SUCCESS;
    }

    std::string dir_;
    std::string file_;
};

// ---- every value type through the file

struct RoundTripCase {
    const char* name;
    DWORD type;
    std::string_view data;
    std::string_view readBack;  // what a query returns after the file is reparsed
    const char* line;           // as the file holds it
};

const RoundTripCase kRoundTrip[] = {
    {"sz", REG_SZ, "text\0"sv, "text\0"sv, R"("sz"="text")"},
    {"unterminated", REG_SZ, "text"sv, "text\0"sv, R"("unterminated"="text")"},
    {"empty", REG_SZ, ""sv, "\0"sv, R"("empty"="")"},
    {"embedded nul", REG_SZ, "a\0b\0"sv, "a\0b\0"sv, R"("embedded nul"=hex(1):61,00,62,00)"},
    {"double nul", REG_SZ, "ab\0\0"sv, "ab\0\0"sv, R"("double nul"=hex(1):61,62,00,00)"},
    {"line break", REG_SZ, "a\r\nb\0"sv, "a\r\nb\0"sv, R"("line break"=hex(1):61,0d,0a,62,00)"},
    {R"(q"uo\te)", REG_SZ, "C:\\dir \"x\"\0"sv, "C:\\dir \"x\"\0"sv,
     R"("q\"uo\\te"="C:\\dir \"x\"")"},
    {"utf8 \xE4\xB8\xAD", REG_SZ, "\xE4\xB8\xAD\xE6\x96\x87\0"sv, "\xE4\xB8\xAD\xE6\x96\x87\0"sv,
     "\"utf8 \xE4\xB8\xAD\"=\"\xE4\xB8\xAD\xE6\x96\x87\""},
    {"expand", REG_EXPAND_SZ, "%HOME%\0"sv, "%HOME%\0"sv,
     R"("expand"=hex(2):25,48,4f,4d,45,25,00)"},
    {"expand unterminated", REG_EXPAND_SZ, "%A%"sv, "%A%\0"sv,
     R"("expand unterminated"=hex(2):25,41,25,00)"},
    {"dword", REG_DWORD, "\x0a\x00\x00\x80"sv, "\x0a\x00\x00\x80"sv, R"("dword"=dword:8000000a)"},
    {"short dword", REG_DWORD, "\x01\x02"sv, "\x01\x02"sv, R"("short dword"=hex(4):01,02)"},
    {"binary", REG_BINARY, "\x00\xff\x10"sv, "\x00\xff\x10"sv, R"("binary"=hex:00,ff,10)"},
    {"no bytes", REG_BINARY, ""sv, ""sv, R"("no bytes"=hex:)"},
    {"multi", REG_MULTI_SZ, "a\0bc\0\0"sv, "a\0bc\0\0"sv, R"("multi"=hex(7):61,00,62,63,00,00)"},
    {"qword", REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08"sv, "\x01\x02\x03\x04\x05\x06\x07\x08"sv,
     R"("qword"=hex(b):01,02,03,04,05,06,07,08)"},
    {"none", REG_NONE, ""sv, ""sv, R"("none"=hex(0):)"},
    {"odd type", 0x12345u, "\x7f"sv, "\x7f"sv, R"("odd type"=hex(12345):7f)"},
    {"", REG_SZ, "default\0"sv, "default\0"sv, R"(@="default")"},
};

TEST_F(RegistryTest, EveryValueTypeRoundTripsThroughTheFile) {
    Bytes longBinary(300);
    for (std::size_t i = 0; i < longBinary.size(); ++i) {
        longBinary[i] = static_cast<BYTE>(i);
    }
    {
        Key key;
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva\\Types", key), ERROR_SUCCESS);
        for (const RoundTripCase& c : kRoundTrip) {
            ASSERT_EQ(set(key, c.name, c.type, bytesOf(c.data)), ERROR_SUCCESS) << c.name;
        }
        ASSERT_EQ(set(key, "long", REG_BINARY, longBinary), ERROR_SUCCESS);
    }

    const std::string text = fileText();
    EXPECT_TRUE(text.starts_with("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n")) << text;
    EXPECT_NE(text.find("\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orva\\Types]\n"), std::string::npos);
    for (const RoundTripCase& c : kRoundTrip) {
        EXPECT_NE(text.find(std::string("\n") + c.line + "\n"), std::string::npos)
            << "missing line " << c.line << " in\n"
            << text;
    }
    // Long hex lists are wrapped after a comma, within 80 columns.
    std::istringstream lines(text);
    int continued = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
        if (line.ends_with("\\")) {
            EXPECT_TRUE(line.ends_with(",\\")) << line;
            ++continued;
        }
    }
    EXPECT_GE(continued, 3);

    // A second registry made of the same text reads back every value.
    const std::string copy = dir_ + "/copy/registry.reg";
    writeText(copy, text);
    useFile(copy);
    Key key;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva\\Types", key, KEY_READ), ERROR_SUCCESS);
    for (const RoundTripCase& c : kRoundTrip) {
        EXPECT_EQ(get(key, c.name), (Stored{c.type, bytesOf(c.readBack)})) << c.name;
    }
    EXPECT_EQ(get(key, "long"), (Stored{REG_BINARY, longBinary}));

    // Values enumerate in the order they were first set, and a rewrite of the
    // reparsed registry produces the same text.
    std::vector<std::string> expected;
    for (const RoundTripCase& c : kRoundTrip) {
        expected.emplace_back(c.name);
    }
    expected.emplace_back("long");
    EXPECT_EQ(valueNames(key), expected);
    {
        Key writable;
        ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva\\Types", writable), ERROR_SUCCESS);
        ASSERT_EQ(setText(writable, "transient", "x"), ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteValueA(writable, "transient"), ERROR_SUCCESS);
    }
    EXPECT_EQ(readText(copy), text);
}

// Texts gain a terminator on their way through the file; at the 4 MiB limit
// there is no room for one, and the value must still read back so that later
// changes keep working.
TEST_F(RegistryTest, ValuesOfExactlyTheSizeLimitReadBackAndLaterChangesWork) {
    constexpr std::size_t kLimit = std::size_t{4} << 20;
    struct LimitCase {
        DWORD type;
        std::size_t textSize;  // bytes of 'a'
        bool terminated;       // set with a trailing NUL
        std::size_t readBack;  // size read back; the text is unchanged
    } const cases[] = {
        {REG_SZ, kLimit, false, kLimit},        {REG_SZ, kLimit - 1, true, kLimit},
        {REG_SZ, kLimit - 1, false, kLimit},  // gains its NUL, still within the limit
        {REG_EXPAND_SZ, kLimit, false, kLimit}, {REG_EXPAND_SZ, kLimit - 1, false, kLimit},
        {REG_BINARY, kLimit, false, kLimit},
    };
    Key key;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orva\\Limit", key), ERROR_SUCCESS);
    for (const LimitCase& c : cases) {
        Bytes data(c.textSize, 'a');
        if (c.terminated) {
            data.push_back(0);
        }
        ASSERT_EQ(set(key, "big", c.type, data), ERROR_SUCCESS) << c.type << ' ' << c.textSize;
        ASSERT_EQ(setText(key, "after", "x"), ERROR_SUCCESS) << c.type << ' ' << c.textSize;
        const std::optional<Stored> stored = get(key, "big");
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->type, c.type);
        ASSERT_EQ(stored->data.size(), c.readBack) << c.type << ' ' << c.textSize;
        EXPECT_EQ(std::count(stored->data.begin(), stored->data.end(), BYTE{'a'}),
                  static_cast<std::ptrdiff_t>(c.textSize));
        ASSERT_EQ(RegDeleteValueA(key, "big"), ERROR_SUCCESS);
    }
    EXPECT_EQ(set(key, "big", REG_BINARY, Bytes(kLimit + 1)), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, HandWrittenFilesInTheAcceptedVariantsParse) {
    // Version 5 header, a UTF-8 BOM, CRLF, comments, blanks, spacing around
    // '=', upper-case prefixes, a continued hex list, a deep section that
    // implies its parents, a section repeated, and a value set twice.
    writeText(file_,
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
              "\r\n"
              "; a comment\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B\\C]  \r\n"
              "  \"s\" = \"one\"\r\n"
              "\"d\"=DWORD:1F\r\n"
              "\"h\"=HEX:01, 02,\\\r\n"
              "    03\r\n"
              "\"h2\"=hex(7):\\\n"
              "  61,00,00\n"
              "[HKEY_CLASSES_ROOT\\.txt]\n"
              "@=\"txtfile\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B\\C]\n"
              "\"s\"=\"two\"\n");
    Key key;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "software\\a\\b\\c", key, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(get(key, "s"), (Stored{REG_SZ, bytesOf("two\0"sv)}));
    EXPECT_EQ(get(key, "d"), (Stored{REG_DWORD, bytesOf("\x1f\0\0\0"sv)}));
    EXPECT_EQ(get(key, "h"), (Stored{REG_BINARY, bytesOf("\x01\x02\x03"sv)}));
    EXPECT_EQ(get(key, "h2"), (Stored{REG_MULTI_SZ, bytesOf("a\0\0"sv)}));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B"));
    Key classes;
    ASSERT_EQ(open(HKEY_CLASSES_ROOT, ".txt", classes, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(get(classes, nullptr), (Stored{REG_SZ, bytesOf("txtfile\0"sv)}));

    // An empty file is an empty registry.
    writeText(file_, "");
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"));
    Key root;
    EXPECT_EQ(open(HKEY_CURRENT_USER, nullptr, root, KEY_READ), ERROR_SUCCESS);
}

// Sections in any order build the registry that the same sections in order
// do: subkeys sorted, each key named as the first section that reaches it
// spells it, values set in document order. An import adds to what is there.
TEST_F(RegistryTest, SectionsInAnyOrderReadBackAsInOrder) {
    struct OrderCase {
        const char* existing;  // the file before; null: the text is the file
        const char* text;
        std::vector<std::string> subkeys;  // of HKEY_USERS\Order
    } const cases[] = {
        {"REGEDIT4\n[HKEY_USERS\\Order\\k1]\n[HKEY_USERS\\Order\\k3]\n[HKEY_USERS\\Order\\k5]\n",
         "REGEDIT4\n[HKEY_USERS\\Order\\k6]\n[HKEY_USERS\\Order\\K4]\n[HKEY_USERS\\Order\\k2]\n"
         "[-HKEY_USERS\\Order\\k3]\n[HKEY_USERS\\Order\\k0]\n[HKEY_USERS\\Order\\k3]\n",
         {"k0", "k1", "k2", "k3", "K4", "k5", "k6"}},
        {nullptr,
         "REGEDIT4\n[HKEY_USERS\\Order\\c]\n\"v\"=\"1\"\n[HKEY_USERS\\Order\\B\\x]\n"
         "[HKEY_USERS\\ORDER\\a]\n[HKEY_USERS\\order\\b]\n[HKEY_USERS\\Order\\C]\n"
         "\"v\"=\"3\"\n\"w\"=\"4\"\n",
         {"a", "B", "c"}},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.existing == nullptr) {
            writeText(file_, c.text);
        } else {
            writeText(file_, c.existing);
            orva::platform::RegistryTextError error;
            ASSERT_EQ(orva::platform::importRegistryText(c.text, 0, &error), ERROR_SUCCESS)
                << error.reason;
        }
        Key order;
        ASSERT_EQ(open(HKEY_USERS, "Order", order, KEY_READ), ERROR_SUCCESS);
        EXPECT_EQ(subkeys(order), c.subkeys);
        EXPECT_EQ(subkeys(HKEY_USERS), std::vector<std::string>{"Order"});
    }
    // The file of the last case.
    Key c;
    ASSERT_EQ(open(HKEY_USERS, "Order\\c", c, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(c), (std::vector<std::string>{"v", "w"}));
    EXPECT_EQ(get(c, "v"), (Stored{REG_SZ, bytesOf("3\0"sv)}));
    EXPECT_TRUE(keyExists(HKEY_USERS, "Order\\b\\x"));
}

// ---- the caller's buffer

TEST_F(RegistryTest, QueryFollowsTheBufferRules) {
    Key key;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Orva", key), ERROR_SUCCESS);
    ASSERT_EQ(setText(key, "Name", "hello"), ERROR_SUCCESS);  // stored without its NUL

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u) << "the size counts the terminator";

    BYTE buffer[8];
    std::memset(buffer, 0xCC, sizeof buffer);
    type = 0;
    size = 5;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, REG_SZ) << "the type is reported with ERROR_MORE_DATA too";
    for (BYTE b : buffer) {
        EXPECT_EQ(b, 0xCC) << "nothing is written to a buffer too small";
    }

    size = 6;
    ASSERT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::memcmp(buffer, "hello\0", 6), 0);
    EXPECT_EQ(buffer[6], 0xCC);

    // Type and existence only; data without a size; reserved not null.
    type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Name", &reserved, nullptr, nullptr, &size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);

    // Null and empty names both mean the default value.
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(setText(key, nullptr, "def"), ERROR_SUCCESS);
    EXPECT_EQ(get(key, ""), (Stored{REG_SZ, bytesOf("def\0"sv)}));

    // An empty value answers a size query with 0 and fits a null buffer.
    ASSERT_EQ(set(key, "void", REG_BINARY, {}), ERROR_SUCCESS);
    size = 99;
    EXPECT_EQ(RegQueryValueExA(key, "void", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);

    // Names compare case-insensitively and keep the case first given.
    ASSERT_EQ(setText(key, "NAME", "again"), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key), (std::vector<std::string>{"Name", "", "void"}));

    // Data given without a buffer, and data over the limit, are refused.
    EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_BINARY, buffer, 0x7FFFFFFF), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(setText(key, "line\nbreak", "x"), ERROR_INVALID_PARAMETER);
}

// ---- keys

TEST_F(RegistryTest, OpenAndCreateFollowWindowsRules) {
    Key key;
    DWORD disposition = 0;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product\\Sub", key, KEY_ALL_ACCESS,
                     &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor"));

    Key again;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "software\\VENDOR\\product\\sub\\", again, KEY_ALL_ACCESS,
                     &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    Key vendor;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\VENDOR", vendor, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(vendor), std::vector<std::string>{"Product"}) << "case kept from creation";

    // Null and empty subkeys open a new handle to the same key.
    Key same;
    ASSERT_EQ(open(key, nullptr, same), ERROR_SUCCESS);
    EXPECT_NE(static_cast<HKEY>(same), static_cast<HKEY>(key));
    ASSERT_EQ(setText(same, "v", "1"), ERROR_SUCCESS);
    EXPECT_TRUE(get(key, "v").has_value());
    Key sameEmpty;
    EXPECT_EQ(open(key, "", sameEmpty), ERROR_SUCCESS);

    Key missing;
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope", missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(static_cast<HKEY>(missing), nullptr);
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, "\\SOFTWARE", missing), ERROR_BAD_PATHNAME);
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Vendor", missing), ERROR_BAD_PATHNAME);
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\X", missing), ERROR_BAD_PATHNAME);
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str(), missing),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE", missing,
                     KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              nullptr, nullptr),
              ERROR_INVALID_PARAMETER);

    // The longest key name Windows allows works.
    Key longName;
    EXPECT_EQ(create(HKEY_CURRENT_USER, std::string(255, 'k').c_str(), longName), ERROR_SUCCESS);
}

TEST_F(RegistryTest, EnumerationIsSortedCaseInsensitivelyAndChecksTheBuffer) {
    Key parent;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Enum", parent), ERROR_SUCCESS);
    for (const char* name :
         {"beta", "Alpha", "_under", "gamma", "ALPHA2", "Zeta", "\xC3\xA9t\xC3\xA9"}) {
        Key child;
        ASSERT_EQ(create(parent, name, child), ERROR_SUCCESS);
    }
    // Folded to upper case as Windows compares: '_' sorts after the letters,
    // UTF-8 bytes after ASCII.
    EXPECT_EQ(subkeys(parent), (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "gamma", "Zeta",
                                                         "_under", "\xC3\xA9t\xC3\xA9"}));

    char name[8];
    std::memset(name, 'x', sizeof name);
    DWORD length = 5;  // "Alpha" needs 6 with its NUL
    EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(name[0], 'x');
    length = 6;
    ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(length, 5u);
    EXPECT_STREQ(name, "Alpha");

    char keyClass[4] = "zz";
    DWORD classLength = sizeof keyClass;
    FILETIME written{1, 1};
    length = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(parent, 1, name, &length, nullptr, keyClass, &classLength, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(classLength, 0u);
    EXPECT_STREQ(keyClass, "");

    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(parent, 7, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumKeyExA(parent, 0, nullptr, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);

    // Values: the same name rules; a data buffer too small reports the size.
    ASSERT_EQ(set(parent, "abc", REG_BINARY, bytesOf("123456")), ERROR_SUCCESS);
    BYTE data[4];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    length = sizeof name;
    EXPECT_EQ(RegEnumValueA(parent, 0, name, &length, nullptr, &type, data, &dataSize),
              ERROR_MORE_DATA);
    EXPECT_EQ(dataSize, 6u);
    EXPECT_EQ(type, REG_BINARY);
    length = 3;
    EXPECT_EQ(RegEnumValueA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = sizeof name;
    EXPECT_EQ(RegEnumValueA(parent, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

// ---- views and HKEY_CLASSES_ROOT

TEST_F(RegistryTest, The32BitViewMapsSoftwareToWow6432Node) {
    {
        Key key;
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App", key,
                         KEY_ALL_ACCESS | KEY_WOW64_32KEY),
                  ERROR_SUCCESS);
        ASSERT_EQ(setText(key, "bits", "32"), ERROR_SUCCESS);
    }
    EXPECT_NE(fileText().find(
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Vendor\\App]\n\"bits\"=\"32\""),
              std::string::npos);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor"));
    Key native;
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", native, KEY_READ | KEY_WOW64_64KEY),
              ERROR_FILE_NOT_FOUND);
    Key direct;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Vendor\\App", direct, KEY_READ),
              ERROR_SUCCESS);

    // A path already in Wow6432Node is not mapped twice.
    Key twice;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Vendor\\App", twice,
                   KEY_READ | KEY_WOW64_32KEY),
              ERROR_SUCCESS);
    EXPECT_TRUE(get(twice, "bits").has_value());

    // A handle keeps its mapped path: relative opens extend it.
    Key vendor32;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", vendor32, KEY_READ | KEY_WOW64_32KEY),
              ERROR_SUCCESS);
    Key app;
    ASSERT_EQ(open(vendor32, "App", app, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(get(app, "bits"), (Stored{REG_SZ, bytesOf("32\0"sv)}));

    // SOFTWARE itself, other roots and other HKLM keys are shared by both views.
    Key user32;
    ASSERT_EQ(
        create(HKEY_CURRENT_USER, "SOFTWARE\\Vendor", user32, KEY_ALL_ACCESS | KEY_WOW64_32KEY),
        ERROR_SUCCESS);
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "SOFTWARE\\Vendor"));
    Key system32;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SYSTEM\\X", system32, KEY_ALL_ACCESS | KEY_WOW64_32KEY),
              ERROR_SUCCESS);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\X"));
}

TEST_F(RegistryTest, ClassesRootIsStoredUnderLocalMachineSoftwareClasses) {
    // Before anything is registered HKEY_CLASSES_ROOT reads as empty.
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(
        RegEnumKeyExA(HKEY_CLASSES_ROOT, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
        ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegQueryValueExA(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);

    {
        Key clsid;
        ASSERT_EQ(create(HKEY_CLASSES_ROOT, "CLSID\\{1234}\\InprocServer32", clsid), ERROR_SUCCESS);
        ASSERT_EQ(setText(clsid, nullptr, "/opt/orva/control.so"), ERROR_SUCCESS);
    }
    EXPECT_NE(
        fileText().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{1234}\\InprocServer32]\n"
                        "@=\"/opt/orva/control.so\""),
        std::string::npos);
    EXPECT_EQ(fileText().find("HKEY_CLASSES_ROOT"), std::string::npos);
    Key viaMachine;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\{1234}\\InprocServer32",
                   viaMachine, KEY_READ),
              ERROR_SUCCESS);
    EXPECT_TRUE(get(viaMachine, "").has_value());
    EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT), std::vector<std::string>{"CLSID"});

    // In the 32-bit view it is ...\Wow6432Node\Classes.
    Key classes32;
    ASSERT_EQ(
        create(HKEY_CLASSES_ROOT, "CLSID\\{5678}", classes32, KEY_ALL_ACCESS | KEY_WOW64_32KEY),
        ERROR_SUCCESS);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Classes\\CLSID\\{5678}"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, "CLSID\\{5678}"));
}

// ---- handles and access

TEST_F(RegistryTest, HandlesAreCheckedNeverTrusted) {
    Key key;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\H", key), ERROR_SUCCESS);
    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\H", 0, KEY_READ, &closed), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);

    BYTE data[4];
    DWORD size = sizeof data;
    char name[16];
    DWORD length = sizeof name;
    HKEY out = nullptr;
    int dummy = 0;
    for (HKEY bad : {closed, static_cast<HKEY>(nullptr), reinterpret_cast<HKEY>(&dummy),
                     reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000004u))}) {
        EXPECT_EQ(RegOpenKeyExA(bad, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCreateKeyExA(bad, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegQueryValueExA(bad, "v", nullptr, nullptr, data, &size), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegSetValueExA(bad, "v", 0, REG_BINARY, data, 1), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteValueA(bad, "v"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteKeyA(bad, "x"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteTreeA(bad, "x"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegEnumKeyExA(bad, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegEnumValueA(bad, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(out, nullptr);
    // Roots are always open; closing one does nothing.
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
    EXPECT_EQ(setText(HKEY_CURRENT_USER, "rootValue", "x"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, EachOperationNeedsItsAccessRight) {
    {
        Key writer;
        ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Acl\\Child", writer), ERROR_SUCCESS);
        ASSERT_EQ(setText(writer, "v", "1"), ERROR_SUCCESS);
    }
    const std::string before = fileText();

    Key reader;
    ASSERT_EQ(open(HKEY_CURRENT_USER, "Software\\Acl\\Child", reader, KEY_READ), ERROR_SUCCESS);
    EXPECT_TRUE(get(reader, "v").has_value());
    EXPECT_EQ(setText(reader, "v", "2"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(reader, "v"), ERROR_ACCESS_DENIED);
    Key child;
    EXPECT_EQ(create(reader, "New", child), ERROR_ACCESS_DENIED);
    EXPECT_EQ(fileText(), before);

    Key setOnly;
    ASSERT_EQ(open(HKEY_CURRENT_USER, "Software\\Acl", setOnly, KEY_SET_VALUE), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(setOnly, "v", nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    char name[16];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(setOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(setOnly, "Child"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setText(setOnly, "w", "ok"), ERROR_SUCCESS);

    // Creating needs KEY_CREATE_SUB_KEY on the parent; opening an existing
    // key through RegCreateKeyExA does not, and needs no write at all.
    Key queryOnly;
    ASSERT_EQ(open(HKEY_CURRENT_USER, "Software\\Acl", queryOnly, KEY_QUERY_VALUE), ERROR_SUCCESS);
    Key existing;
    DWORD disposition = 0;
    EXPECT_EQ(create(queryOnly, "Child", existing, KEY_READ, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    Key creator;
    ASSERT_EQ(open(HKEY_CURRENT_USER, "Software\\Acl", creator, KEY_CREATE_SUB_KEY), ERROR_SUCCESS);
    Key created;
    EXPECT_EQ(create(creator, "Other", created, KEY_READ, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
}

// ---- deletion

TEST_F(RegistryTest, DeleteKeyAndTreeFollowWindowsRules) {
    {
        Key leaf;
        ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Del\\A\\Leaf", leaf), ERROR_SUCCESS);
        ASSERT_EQ(setText(leaf, "v", "1"), ERROR_SUCCESS);
        Key other;
        ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Del\\B", other), ERROR_SUCCESS);
    }
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del\\A"), ERROR_ACCESS_DENIED)
        << "it has subkeys";
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED) << "roots are not deleted";
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(HKEY_CURRENT_USER, "missing"), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "software\\del\\a\\LEAF"), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Del\\A\\Leaf"));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Del\\A"));

    {
        Key deep;
        ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Del\\A\\X\\Y\\Z", deep), ERROR_SUCCESS);
    }
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Del\\A"), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Del\\A"));
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Del\\A"), ERROR_FILE_NOT_FOUND);

    // Without a subkey the tree empties the key and keeps it.
    Key del;
    ASSERT_EQ(open(HKEY_CURRENT_USER, "Software\\Del", del), ERROR_SUCCESS);
    ASSERT_EQ(setText(del, "v", "1"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(del, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Del"));
    EXPECT_TRUE(subkeys(del).empty());
    EXPECT_TRUE(valueNames(del).empty());
    EXPECT_EQ(RegDeleteTreeA(del, nullptr), ERROR_SUCCESS) << "an empty key stays empty";

    // A key deletes itself through its own handle with an empty subkey.
    ASSERT_EQ(RegDeleteKeyA(del, ""), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Del"));
}

TEST_F(RegistryTest, HandlesOfDeletedKeysAnswerKeyDeleted) {
    Key parent;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Gone", parent), ERROR_SUCCESS);
    Key child;
    ASSERT_EQ(create(parent, "Child\\Grandchild", child), ERROR_SUCCESS);
    ASSERT_EQ(setText(child, "v", "1"), ERROR_SUCCESS);
    HKEY closedLater = nullptr;
    ASSERT_EQ(RegOpenKeyExA(child, nullptr, 0, KEY_READ, &closedLater), ERROR_SUCCESS);

    ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Gone"), ERROR_SUCCESS);
    char name[16];
    DWORD length = sizeof name;
    Key out;
    for (HKEY stale : {static_cast<HKEY>(parent), static_cast<HKEY>(child)}) {
        EXPECT_EQ(RegQueryValueExA(stale, "v", nullptr, nullptr, nullptr, nullptr),
                  ERROR_KEY_DELETED);
        EXPECT_EQ(setText(stale, "v", "2"), ERROR_KEY_DELETED);
        EXPECT_EQ(RegEnumKeyExA(stale, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_KEY_DELETED);
        EXPECT_EQ(open(stale, nullptr, out), ERROR_KEY_DELETED);
        EXPECT_EQ(create(stale, "New", out), ERROR_KEY_DELETED);
    }
    // Creating the path again does not bring the old handles back.
    Key recreated;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Gone\\Child\\Grandchild", recreated),
              ERROR_SUCCESS);
    EXPECT_EQ(setText(child, "v", "3"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(closedLater), ERROR_SUCCESS) << "a deleted key's handle still closes";

    // A key removed by another process (here: by editing the file) is deleted too.
    Key survivor;
    ASSERT_EQ(open(HKEY_CURRENT_USER, "Software\\Gone\\Child", survivor), ERROR_SUCCESS);
    writeText(file_, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Gone]\n");
    EXPECT_EQ(setText(survivor, "v", "1"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueExA(survivor, "v", nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);

    // Emptying a key deletes the keys below it, not the key itself.
    Key kept;
    ASSERT_EQ(open(HKEY_CURRENT_USER, "Software\\Gone", kept), ERROR_SUCCESS);
    Key below;
    ASSERT_EQ(create(kept, "Below", below), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(kept, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(setText(kept, "v", "1"), ERROR_SUCCESS);
    EXPECT_EQ(setText(below, "v", "1"), ERROR_KEY_DELETED);
}

// ---- malformed files

struct MalformedCase {
    std::string_view text;
    std::size_t line;
    const char* reason;  // part of the message
};

const MalformedCase kMalformed[] = {
    {"REGEDIT5\n", 1, "header"},
    {"\n", 1, "header"},
    {"\xFF\xFE"
     "R\0E\0"sv,
     1, "UTF-16"},
    {"REGEDIT4\n\"a\"=\"b\"\n", 2, "outside"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\n", 3, "not closed"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"\\n\"\n", 3, "escape"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\" x\n", 3, "after the closing quote"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:123456789\n", 3, "dword"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:\n", 3, "dword"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:0g\n", 3, "between hex bytes"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01 02\n", 3, "between hex bytes"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\n", 3, "ends with a comma"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\\\n", 3, "past the end"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\\\n  02,,03\n", 4, "hex byte"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex(zz):01\n", 3, "hex(N)"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=str:x\n", 3, "unrecognised"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\" \"b\"\n", 3, "'='"},
    {"REGEDIT4\n[HKEY_CURRENT_CONFIG\\A]\n", 2, "unknown root"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2, "empty key name"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\]\n", 2, "empty key name"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", 2, "']'"},
    {"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n", 2, "only allowed in an import"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=-\n", 3, "only allowed in an import"},
    {"REGEDIT4\n\n\nstray words\n", 4, "unexpected"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\0c\"\n"sv, 3, "NUL"},
    // Names the Reg* functions refuse: a CR that is not the line's end.
    {"REGEDIT4\n[HKEY_USERS\\ok]\n[HKEY_USERS\\a\rb]\n", 3, "line break in the key name"},
    {"REGEDIT4\n[HKEY_USERS\\a\rb\\c]\r\n", 2, "line break in the key name"},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\rb\"=\"x\"\n", 3, "line break in the value name"},
};

TEST_F(RegistryTest, AMalformedFileFailsReadsAndIsNeverOverwritten) {
    const std::string longName(256, 'k');
    std::vector<MalformedCase> cases(std::begin(kMalformed), std::end(kMalformed));
    const std::string tooLong = "REGEDIT4\n[HKEY_USERS\\" + longName + "]\n";
    cases.push_back({tooLong, 2, "longer than 255"});
    const std::string longValueName =
        "REGEDIT4\n[HKEY_USERS\\k]\n\"" + std::string(16384, 'v') + "\"=\"x\"\n";
    cases.push_back({longValueName, 3, "longer than 16383"});
    std::string tooDeep = "REGEDIT4\n[HKEY_USERS";
    for (int i = 0; i < 600; ++i) {
        tooDeep += "\\k";
    }
    tooDeep += "]\n";
    cases.push_back({tooDeep, 2, "deeper"});

    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(std::string(c.text.substr(0, 80)));
        writeText(file_, c.text);

        orva::platform::RegistryTextError error;
        ASSERT_EQ(orva::platform::checkRegistryFile(&error), ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(error.file, file_);
        EXPECT_EQ(error.line, c.line);
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.reason;

        Key key;
        EXPECT_EQ(open(HKEY_LOCAL_MACHINE, "A", key, KEY_READ), ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "a", nullptr, nullptr, nullptr, nullptr),
                  ERROR_REGISTRY_CORRUPT);
        char name[16];
        DWORD length = sizeof name;
        EXPECT_EQ(RegEnumKeyExA(HKEY_USERS, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(setText(HKEY_LOCAL_MACHINE, "a", "b"), ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(create(HKEY_LOCAL_MACHINE, "New", key), ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "A"), ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, nullptr), ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(orva::platform::importRegistryText("REGEDIT4\n[HKEY_USERS\\X]\n", 0, &error),
                  ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(error.file, file_);
        EXPECT_EQ(fileText(), c.text) << "the malformed file must stay as it was";
    }
}

// ---- the file on disk

TEST_F(RegistryTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
    constexpr int kPerProcess = 40;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            int failures = 0;
            for (int i = 0; i < kPerProcess; ++i) {
                HKEY key = nullptr;
                failures +=
                    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS;
                const std::string name = "p" + std::to_string(p) + "-" + std::to_string(i);
                const DWORD value = static_cast<DWORD>(i);
                failures += RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                                           reinterpret_cast<const BYTE*>(&value),
                                           sizeof value) != ERROR_SUCCESS;
                RegCloseKey(key);
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Key key;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", key, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key).size(), 2u * kPerProcess);
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < kPerProcess; ++i) {
            const std::string name = "p" + std::to_string(p) + "-" + std::to_string(i);
            const DWORD value = static_cast<DWORD>(i);
            EXPECT_EQ(get(key, name.c_str()),
                      (Stored{REG_DWORD, Bytes(reinterpret_cast<const BYTE*>(&value),
                                               reinterpret_cast<const BYTE*>(&value) + 4)}))
                << name;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp." + std::to_string(children[0])));
}

// Tests run as root, where permission bits do not stop a write. A folder
// where the temporary file must go (or the lock file) fails the write at the
// same steps a full or read-only disk would.
TEST_F(RegistryTest, AFailedWriteLeavesTheOldFileIntact) {
    {
        Key key;
        ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Safe", key), ERROR_SUCCESS);
        ASSERT_EQ(setText(key, "kept", "yes"), ERROR_SUCCESS);
    }
    const std::string before = fileText();
    const std::string temporary = file_ + ".tmp." + std::to_string(::getpid());
    ASSERT_TRUE(std::filesystem::create_directory(temporary));
    EXPECT_EQ(setText(HKEY_CURRENT_USER, "lost", "no"), ERROR_REGISTRY_IO_FAILED);
    Key created;
    EXPECT_EQ(create(HKEY_CURRENT_USER, "Software\\New", created), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(fileText(), before);
    std::filesystem::remove(temporary);

    const std::string lock = file_ + ".lock";
    std::filesystem::remove(lock);
    ASSERT_TRUE(std::filesystem::create_directory(lock));
    EXPECT_EQ(setText(HKEY_CURRENT_USER, "lost", "no"), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(fileText(), before);
    std::filesystem::remove(lock);

    Key key;
    ASSERT_EQ(open(HKEY_CURRENT_USER, "Software\\Safe", key, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(get(key, "kept"), (Stored{REG_SZ, bytesOf("yes\0"sv)}));
    EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "lost", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(setText(HKEY_CURRENT_USER, "later", "yes"), ERROR_SUCCESS) << "writes work again";
}

TEST_F(RegistryTest, AFolderThatCannotExistIsAnEmptyRegistryThatRefusesWrites) {
    const std::string plain = dir_ + "/plain";
    std::ofstream(plain) << "not a folder";
    useFile(plain + "/registry.reg");
    Key key;
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE", key, KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE", key), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(readText(plain), "not a folder");

    // A registry path that is a folder is not a registry.
    useFile(dir_);
    EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "x", nullptr, nullptr, nullptr, nullptr),
              ERROR_REGISTRY_IO_FAILED);
}

TEST_F(RegistryTest, AFifoIsRefusedAtOnceByEveryReaderAndWriter) {
    std::filesystem::create_directories(std::filesystem::path(file_).parent_path());
    ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
    // In a child, so that an open that waits for a writer fails the test
    // rather than hanging it: the number of the first call that went wrong.
    const int wrong = orva::testing::exitOfGuardedChild([] {
        orva::platform::RegistryTextError error;
        std::string text;
        HKEY key = nullptr;
        const LSTATUS answers[] = {
            orva::platform::checkRegistryFile(&error),
            RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, nullptr, nullptr),
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key),
            setText(HKEY_CURRENT_USER, "v", "x"),
            orva::platform::importRegistryText("REGEDIT4\n[HKEY_USERS\\X]\n", 0, &error),
            orva::platform::exportRegistryText(HKEY_CURRENT_USER, nullptr, 0, &text, &error),
        };
        for (std::size_t i = 0; i < std::size(answers); ++i) {
            if (answers[i] != ERROR_REGISTRY_IO_FAILED) {
                return static_cast<int>(i) + 1;
            }
        }
        return 0;
    });
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(std::filesystem::is_fifo(file_)) << "never replaced";
}

TEST_F(RegistryTest, EachCallReadsTheFileItIsPointedAt) {
    ASSERT_EQ(setText(HKEY_CURRENT_USER, "where", "first"), ERROR_SUCCESS);
    const std::string second = dir_ + "/second.reg";
    useFile(second);
    EXPECT_FALSE(get(HKEY_CURRENT_USER, "where").has_value());
    ASSERT_EQ(setText(HKEY_CURRENT_USER, "where", "second"), ERROR_SUCCESS);
    useFile(file_);
    EXPECT_EQ(get(HKEY_CURRENT_USER, "where"), (Stored{REG_SZ, bytesOf("first\0"sv)}));

    // A file replaced from outside, even with the same size, is read again.
    writeText(file_, "REGEDIT4\n\n[HKEY_CURRENT_USER]\n\"where\"=\"other\"\n");
    EXPECT_EQ(get(HKEY_CURRENT_USER, "where"), (Stored{REG_SZ, bytesOf("other\0"sv)}));
    writeText(file_, "REGEDIT4\n\n[HKEY_CURRENT_USER]\n\"where\"=\"again\"\n");
    EXPECT_EQ(get(HKEY_CURRENT_USER, "where"), (Stored{REG_SZ, bytesOf("again\0"sv)}));
}

// ---- import and export

TEST_F(RegistryTest, ImportAppliesAllOrNothingAndExportReparses) {
    {
        Key key;
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp\\Old", key), ERROR_SUCCESS);
        ASSERT_EQ(setText(key, "drop", "x"), ERROR_SUCCESS);
        ASSERT_EQ(setText(key, "keep", "x"), ERROR_SUCCESS);
        Key doomed;
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp\\Doomed\\Below", doomed),
                  ERROR_SUCCESS);
    }
    orva::platform::RegistryTextError error;
    ASSERT_EQ(orva::platform::importRegistryText("REGEDIT4\n"
                                                 "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\Doomed]\n"
                                                 "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\NeverWas]\n"
                                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\Old]\n"
                                                 "\"drop\"=-\n"
                                                 "\"absent\"=-\n"
                                                 "\"new\"=dword:00000002\n",
                                                 0, &error),
              ERROR_SUCCESS)
        << error.reason;
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp\\Doomed"));
    Key old;
    ASSERT_EQ(open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp\\Old", old, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(old), (std::vector<std::string>{"keep", "new"}));

    // A bad line anywhere changes nothing, and says where.
    const std::string before = fileText();
    EXPECT_EQ(
        orva::platform::importRegistryText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp\\More]\n"
                                           "\"ok\"=\"1\"\n\"bad\"=dword:xyz\n",
                                           0, &error),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(error.line, 4u);
    EXPECT_TRUE(error.file.empty());
    EXPECT_EQ(fileText(), before);
    EXPECT_EQ(orva::platform::importRegistryText("REGEDIT4\n[-HKEY_CURRENT_USER]\n", 0, &error),
              ERROR_INVALID_PARAMETER);

    // Import in the 32-bit view.
    ASSERT_EQ(
        orva::platform::importRegistryText(
            "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp32]\n@=\"x\"\n", KEY_WOW64_32KEY, &error),
        ERROR_SUCCESS);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Imp32"));

    // An export imported into an empty registry exports the same text.
    std::string exported;
    ASSERT_EQ(orva::platform::exportRegistryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp", 0, &exported,
                                                 &error),
              ERROR_SUCCESS);
    EXPECT_TRUE(exported.starts_with("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imp]\n"))
        << exported;
    useFile(dir_ + "/other.reg");
    ASSERT_EQ(orva::platform::importRegistryText(exported, 0, &error), ERROR_SUCCESS);
    std::string again;
    ASSERT_EQ(
        orva::platform::exportRegistryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Imp", 0, &again, &error),
        ERROR_SUCCESS);
    EXPECT_EQ(again, exported);
    EXPECT_EQ(
        orva::platform::exportRegistryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope", 0, &again, &error),
        ERROR_FILE_NOT_FOUND);
}

}  // namespace
