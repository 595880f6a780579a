// The page's folder and programs, and the checks of the conformance table.

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "conformance.h"
#include "orva/json_ptr.h"
#include "pkcs7_check.h"

namespace orva::conformance {

using orva::testing::shellQuote;

std::string nameOf(FrontEndKind kind) {
    return kind == FrontEndKind::host     ? "host"
           : kind == FrontEndKind::plugin ? "plugin"
                                          : "control";
}

Page::Page(FrontEndKind kind) : kind_(kind) {
    const std::string root = folder_.root().string();
    folder_.setEnv("ORVA_REGISTRY", root + "/registry.reg");
    folder_.setEnv("ORVA_SOFTKEY_DIR", root + "/softkey");
    folder_.setEnv("TMPDIR", root);
    folder_.setEnv("ORVA_ACP", "65001");
    keep("root", root);
    // The person at the key types the PIN when the key asks, and confirms.
    run("orva-setup register && softkey create --sn SK0000000001 && softkey user --pin 12345678");
}

// The control stays loaded for the life of the process, and the library
// with it: the next case in the process starts with their first charset.
Page::~Page() {
    if (frontEnd_) {
        frontEnd_->call({"SetCharset", {{"CharSet", std::string("GBK")}}});
    }
}

std::string Page::expand(std::string_view text) const {
    std::string out(text);
    for (const auto& [name, value] : kept_) {
        const std::string mark = "{" + name + "}";
        for (std::size_t at = out.find(mark); at != std::string::npos;
             at = out.find(mark, at + value.size())) {
            out.replace(at, mark.size(), value);
        }
    }
    return out;
}

std::string Page::call(PageCall call) {
    for (PageArg& arg : call.args) {
        if (auto* text = std::get_if<std::string>(&arg.value)) {
            *text = expand(*text);
        }
    }
    if (!frontEnd_) {
        frontEnd_ = startFrontEnd(kind_);
    }
    return frontEnd_->call(call);
}

orva::testing::CommandResult Page::command(const std::string& line) const {
    return orva::testing::runCommand(
        "cd " + shellQuote(folder_.root().string()) + " && export PATH=" +
        shellQuote(frontend::test::binFolder().string()) + ":\"$PATH\" && " + line);
}

std::string Page::run(const std::string& line) const {
    const orva::testing::CommandResult result = command(line);
    EXPECT_EQ(result.status, 0) << line << "\n" << result.output;
    return result.output;
}

Check is(std::string expected) {
    return [expected](Page& page, const std::string& result) {
        EXPECT_EQ(result, page.expand(expected));
    };
}

Check code(int code) {
    return is(std::to_string(code));
}

Check matches(std::string pattern) {
    return [pattern](Page&, const std::string& result) {
        EXPECT_TRUE(std::regex_match(result, std::regex(pattern))) << result << " / " << pattern;
    };
}

Check contains(std::string part) {
    return [part](Page& page, const std::string& result) {
        EXPECT_NE(result.find(page.expand(part)), std::string::npos)
            << orva::testing::toHex(orva::testing::bytesOf(page.expand(part))) << " not in\n"
            << result;
    };
}

Check all(std::vector<Check> checks) {
    return [checks](Page& page, const std::string& result) {
        for (const Check& check : checks) {
            check(page, result);
        }
    };
}

Check keep(std::string name) {
    return [name](Page& page, const std::string& result) {
        page.keep(name, result.substr(0, result.find_last_not_of("\r\n") + 1));
    };
}

namespace {

// A file token's field: "TOKEN=...||FILEPATH=...||FILESIZE=...", decoded by openssl.
std::string tokenField(Page& page, const std::string& base64, const std::string& field) {
    const std::string text =
        "||" + page.run("printf '%s' " + shellQuote(base64) + " | openssl base64 -d -A") + "||";
    const std::size_t start = text.find("||" + field + "=");
    EXPECT_NE(start, std::string::npos) << field << " in " << text;
    const std::size_t from = start == std::string::npos ? 0 : start + field.size() + 3;
    return text.substr(from, text.find("||", from) - from);
}

}  // namespace

Check keepField(std::string field, std::string name) {
    return [field, name](Page& page, const std::string& result) {
        page.keep(name, tokenField(page, result, field));
    };
}

Check fieldIs(std::string field, std::string expected) {
    return [field, expected](Page& page, const std::string& result) {
        EXPECT_EQ(tokenField(page, result, field), page.expand(expected));
    };
}

std::string transactionElement(std::string_view bytes) {
    std::string element = std::string("\x21", 1) + std::string(4, '\0');
    for (int shift = 24; shift >= 0; shift -= 8) {
        element += static_cast<char>((bytes.size() >> shift) & 0xFF);
    }
    return element + std::string(bytes);
}

Check sm2Signed(std::string content, std::string file) {
    return [content, file](Page& page, const std::string& result) {
        const std::string base64 = file.empty() ? result : page.read(file);
        EXPECT_EQ(frontend::test::verifySm2Pkcs7(
                      [&page](const std::string& line) { return page.command(line); }, base64),
                  "")
            << base64;
        contains(content)(page, page.read("content.bin"));
    };
}

Check rsaSigned(std::string content) {
    return [content](Page& page, const std::string& result) {
        page.run("printf '%s' " + shellQuote(result) +
                 " | openssl base64 -d -A -out p7.der && softkey ca > ca.pem && openssl cms -verify"
                 " -inform DER -binary -in p7.der -CAfile ca.pem -purpose any -out content.bin");
        contains(content)(page, page.read("content.bin"));
    };
}

Check shown(std::string outcome, int charset, std::string display) {
    return [outcome, charset, display](Page& page, const std::string&) {
        std::string line;
        std::istringstream lines(page.read("softkey/display.log"));
        for (std::string next; std::getline(lines, next);) {
            line = next.empty() ? line : next;
        }
        const JsonPtr show(cJSON_ParseWithLength(line.data(), line.size()));
        const auto member = [&show](const char* name) {
            return cJSON_GetObjectItemCaseSensitive(show.get(), name);
        };
        ASSERT_TRUE(cJSON_IsString(member("outcome"))) << line;
        EXPECT_EQ(member("outcome")->valuestring, outcome);
        if (charset != 0) {
            EXPECT_EQ(cJSON_GetNumberValue(member("charset")), charset);
            ASSERT_TRUE(cJSON_IsString(member("displayBase64"))) << line;
            EXPECT_EQ(page.run("printf '%s' " + shellQuote(member("displayBase64")->valuestring) +
                               " | openssl base64 -d -A"),
                      display);
        }
    };
}

}  // namespace orva::conformance
