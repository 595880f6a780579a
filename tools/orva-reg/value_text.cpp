#include <cstdio>

#include "orva/hex.h"
#include "tool.h"

namespace orva::reg_tool {

namespace {

struct TypeName {
    DWORD type;
    const char* name;
    bool canAdd;
};

constexpr TypeName kTypes[] = {
    {REG_NONE, "REG_NONE", false},          {REG_SZ, "REG_SZ", true},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ", true}, {REG_BINARY, "REG_BINARY", true},
    {REG_DWORD, "REG_DWORD", true},         {REG_MULTI_SZ, "REG_MULTI_SZ", false},
    {REG_QWORD, "REG_QWORD", false},
};

std::uint64_t littleEndian(const Bytes& data) {
    std::uint64_t number = 0;
    for (std::size_t i = data.size(); i-- > 0;) {
        number = (number << 8) | data[i];
    }
    return number;
}

}  // namespace

std::string typeName(DWORD type) {
    for (const TypeName& entry : kTypes) {
        if (entry.type == type) {
            return entry.name;
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "REG_TYPE_0x%X", static_cast<unsigned>(type));
    return text;
}

DWORD parseTypeName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) {
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    for (const TypeName& entry : kTypes) {
        if (entry.canAdd && upper == entry.name) {
            return entry.type;
        }
    }
    throw Failure("unsupported type '" + name +
                  "': use REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY");
}

std::string formatData(DWORD type, const Bytes& data) {
    const auto* chars = reinterpret_cast<const char*>(data.data());
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            std::size_t length = 0;
            while (length < data.size() && data[length] != 0) {
                ++length;
            }
            return std::string(chars, length);
        }
        case REG_MULTI_SZ: {
            // Strings shown joined by a literal \0, as reg.exe does.
            std::string text;
            std::size_t start = 0;
            while (start < data.size() && data[start] != 0) {
                std::size_t end = start;
                while (end < data.size() && data[end] != 0) {
                    ++end;
                }
                if (!text.empty()) {
                    text += "\\0";
                }
                text.append(chars + start, end - start);
                start = end + 1;
            }
            return text;
        }
        case REG_DWORD:
        case REG_QWORD:
            if (data.size() == (type == REG_DWORD ? 4u : 8u)) {
                char text[32];
                std::snprintf(text, sizeof text, "0x%llx",
                              static_cast<unsigned long long>(littleEndian(data)));
                return text;
            }
            return toHex(data, HexCase::upper);
        default:
            return toHex(data, HexCase::upper);
    }
}

Bytes parseData(DWORD type, const std::optional<std::string>& text) {
    const std::string given = text.value_or("");
    switch (type) {
        case REG_DWORD: {
            if (!text) {
                return Bytes(4, 0);
            }
            const bool hex =
                given.size() > 2 && given[0] == '0' && (given[1] == 'x' || given[1] == 'X');
            const std::string digits = hex ? given.substr(2) : given;
            std::uint64_t number = 0;
            bool valid = !digits.empty();
            for (char c : digits) {
                const int digit = hex ? hexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
                if (digit < 0) {
                    valid = false;
                    break;
                }
                number = number * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
                if (number > 0xFFFFFFFFu) {
                    valid = false;
                    break;
                }
            }
            if (!valid) {
                throw Failure("invalid REG_DWORD data '" + given +
                              "': give a number from 0 to 4294967295, in decimal or 0x hex");
            }
            Bytes bytes;
            for (int shift = 0; shift < 32; shift += 8) {
                bytes.push_back(static_cast<std::uint8_t>(number >> shift));
            }
            return bytes;
        }
        case REG_BINARY: {
            if (given.size() % 2 != 0) {
                throw Failure("invalid REG_BINARY data: give an even number of hex digits");
            }
            Bytes bytes;
            for (std::size_t i = 0; i < given.size(); i += 2) {
                const int high = hexValue(given[i]);
                const int low = hexValue(given[i + 1]);
                if (high < 0 || low < 0) {
                    throw Failure("invalid REG_BINARY data: '" + given + "' is not hex digits");
                }
                bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
            }
            return bytes;
        }
        default: {
            Bytes bytes(given.begin(), given.end());
            bytes.push_back(0);
            return bytes;
        }
    }
}

}  // namespace orva::reg_tool
