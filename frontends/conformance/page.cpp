// The page's folder, its programs and the checks of the conformance table.

#include "page.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <sstream>

#include "orva/json_ptr.h"
#include "pkcs7_check.h"

namespace orva::conformance {

using orva::testing::CommandResult;
using orva::testing::shellQuote;

std::string_view nameOf(FrontEndKind kind) noexcept {
    switch (kind) {
        case FrontEndKind::host:
            return "host";
        case FrontEndKind::plugin:
            return "plugin";
        case FrontEndKind::control:
            return "control";
    }
    return "?";
}

Page::Page(FrontEndKind kind) : kind_(kind) {
    folder_.setEnv("ORVA_REGISTRY", (root() / "registry.reg").string());
    folder_.setEnv("ORVA_SOFTKEY_DIR", (root() / "softkey").string());
    folder_.setEnv("TMPDIR", root().string());
    folder_.setEnv("ORVA_ACP", "65001");
    expectRun("orva-setup register");
    expectRun("softkey create --sn SK0000000001");
    // The person at the key types the PIN when the key asks, and confirms.
    expectRun("softkey user --pin 12345678");
}

std::string Page::expand(std::string_view text) const {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find('{', at);
        const std::size_t close = text.find('}', open);
        if (open == std::string_view::npos || close == std::string_view::npos) {
            out += text.substr(at);
            break;
        }
        const std::string_view name = text.substr(open + 1, close - open - 1);
        out += text.substr(at, open - at);
        if (name == "root") {
            out += root().string();
        } else if (const auto kept = kept_.find(name); kept != kept_.end()) {
            out += kept->second;
        } else {
            out += text.substr(open, close + 1 - open);
        }
        at = close + 1;
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
        frontEnd_ = kind_ == FrontEndKind::host     ? makeHostFrontEnd()
                    : kind_ == FrontEndKind::plugin ? makePluginFrontEnd()
                                                    : makeControlFrontEnd();
    }
    return frontEnd_->call(call);
}

CommandResult Page::run(const std::string& command) const {
    return orva::testing::runCommand("cd " + shellQuote(root().string()) + " && export PATH=" +
                                     shellQuote(frontend::test::binFolder().string()) +
                                     ":\"$PATH\" && " + command);
}

std::string Page::expectRun(const std::string& command) const {
    const CommandResult result = run(command);
    EXPECT_EQ(result.status, 0) << command << "\n" << result.output;
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

Check startsWith(std::string prefix) {
    return [prefix](Page&, const std::string& result) {
        EXPECT_EQ(result.substr(0, prefix.size()), prefix) << result;
    };
}

Check sizeIs(std::size_t size) {
    return [size](Page&, const std::string& result) { EXPECT_EQ(result.size(), size) << result; };
}

Check partsAre(std::size_t n) {
    return [n](Page&, const std::string& result) {
        std::size_t parts = result.empty() ? 0 : 1;
        for (std::size_t at = result.find("||"); at != std::string::npos;
             at = result.find("||", at + 2)) {
            ++parts;
        }
        EXPECT_EQ(parts, n) << result;
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
    // A command's output without its line end.
    return [name](Page& page, const std::string& result) {
        page.keep(name, result.substr(0, result.find_last_not_of("\r\n") + 1));
    };
}

namespace {

// A file token's field, decoded by openssl: "TOKEN=..||FILEPATH=..||FILESIZE=..".
std::string tokenField(Page& page, const std::string& base64, const std::string& field) {
    const std::string text =
        page.expectRun("printf '%s' " + shellQuote(base64) + " | openssl base64 -d -A");
    const std::size_t start = text.find(field + "=");
    EXPECT_TRUE(start == 0 || (start != std::string::npos && text[start - 1] == '|'))
        << field << " in " << text;
    if (start == std::string::npos) {
        return "<no " + field + ">";
    }
    const std::size_t from = start + field.size() + 1;
    return text.substr(from, text.find("||", from) - from);
}

// "" when the base64 PKCS#7 holds an RSA signature of the test CA's
// certificate; its content in content.bin.
std::string verifyRsa(Page& page, const std::string& base64) {
    const CommandResult verified =
        page.run("printf '%s' " + shellQuote(base64) +
                 " | openssl base64 -d -A -out p7.der && softkey ca > ca.pem &&"
                 " openssl cms -verify -inform DER -binary -in p7.der -CAfile ca.pem"
                 " -purpose any -out content.bin");
    return verified.status == 0 ? "" : verified.output;
}

void expectContent(Page& page, const std::string& content) {
    EXPECT_NE(page.read("content.bin").find(content), std::string::npos)
        << "signed content without " << orva::testing::toHex(orva::testing::bytesOf(content));
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
        const std::string base64 = file.empty() ? result : page.read(page.expand(file));
        EXPECT_EQ(frontend::test::verifySm2Pkcs7(
                      [&page](const std::string& command) { return page.run(command); }, base64),
                  "")
            << base64;
        expectContent(page, page.expand(content));
    };
}

Check rsaSigned(std::string content) {
    return [content](Page& page, const std::string& result) {
        EXPECT_EQ(verifyRsa(page, result), "") << result;
        expectContent(page, content);
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
        const cJSON* said = cJSON_GetObjectItemCaseSensitive(show.get(), "outcome");
        ASSERT_TRUE(cJSON_IsString(said)) << line;
        EXPECT_EQ(said->valuestring, outcome);
        if (charset != 0) {
            EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(show.get(), "charset")),
                      charset);
            const cJSON* bytes = cJSON_GetObjectItemCaseSensitive(show.get(), "displayBase64");
            ASSERT_TRUE(cJSON_IsString(bytes)) << line;
            EXPECT_EQ(page.expectRun("printf '%s' " + shellQuote(bytes->valuestring) +
                                     " | openssl base64 -d -A"),
                      display);
        }
    };
}

}  // namespace orva::conformance
