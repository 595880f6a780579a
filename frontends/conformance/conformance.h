#pragma once

// The conformance table: page-level cases that the three front ends must
// answer alike, each run through the host (over pipes), the plug-in (in the
// stand-in browser) and the control (through IDispatch) over the real token
// API library and a software key; where a front end is meant to answer
// otherwise, the step says how and why.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "frontend_test_support.h"
#include "orva_result_codes.h"

namespace orva::conformance {

// undefined (a member the page leaves out), an integer, a string.
using PageValue = std::variant<std::monostate, int32_t, std::string>;

// An argument: the host's request key and the value, in the plug-in's and
// the control's argument order.
struct PageArg {
    std::string key;
    PageValue value;
};

struct PageCall {
    std::string command;
    std::vector<PageArg> args;
};

enum class FrontEndKind { host, plugin, control };
std::string nameOf(FrontEndKind kind);

// A front end, started in the current environment, turning a call into its
// own form and the answer back into the result text or the code in decimal.
class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    virtual std::string call(const PageCall& call) = 0;
};
std::unique_ptr<FrontEnd> startFrontEnd(FrontEndKind kind);

// One case through one front end: a folder of its own (registry, store of
// software keys, temporary folder) with key SK0000000001 in it, the build's
// programs, and the values kept from earlier answers.
class Page {
  public:
    explicit Page(FrontEndKind kind);
    ~Page();
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    FrontEndKind kind() const noexcept { return kind_; }
    void setEnv(const std::string& name, std::string_view value) {
        folder_.setEnv(name, expand(value));
    }
    // "{root}" becomes the folder, "{name}" the value kept under that name.
    std::string expand(std::string_view text) const;
    void keep(const std::string& name, std::string value) { kept_[name] = std::move(value); }

    // The call with its texts expanded; the front end starts at the first.
    std::string call(PageCall call);
    // A shell command in the folder with the build's programs first.
    orva::testing::CommandResult command(const std::string& command) const;
    // Its output, failing the test unless it succeeds.
    std::string run(const std::string& command) const;
    std::string read(const std::string& relative) const { return folder_.read(relative); }

  private:
    frontend::test::TestFolder folder_;
    FrontEndKind kind_;
    std::unique_ptr<FrontEnd> frontEnd_;
    std::map<std::string, std::string> kept_;
};

// What an answer must be (or a command's output); fails the test otherwise.
using Check = std::function<void(Page& page, const std::string& result)>;

Check is(std::string expected);  // expanded first
Check code(int code);
inline Check code(ApiErrorCode answered) {
    return code(answered.number());
}
Check matches(std::string pattern);  // the whole answer, ECMAScript regex
Check contains(std::string part);    // expanded first
Check all(std::vector<Check> checks);
// The answer without line ends, or a field of the file token it is
// ("TOKEN", "FILEPATH", "FILENAME"), kept for later steps.
Check keep(std::string name);
Check keepField(std::string field, std::string name);
Check fieldIs(std::string field, std::string expected);

// A signed packet's transaction element: tag, four zero bytes, the
// big-endian length, the bytes.
std::string transactionElement(std::string_view bytes);
// A base64 PKCS#7 (the answer, or the file it names) signed by a certificate
// of the test CA, verified by openssl, over content that holds `content`.
Check sm2Signed(std::string content, std::string file = "");
Check rsaSigned(std::string content);
// The key's last show: its outcome and, when signed, the charset it was told
// (1 GBK, 2 UTF-8, 3 GB18030) and the display bytes it got.
Check shown(std::string outcome, int charset = 0, std::string display = "");

// How one front end answers a step otherwise, and why; without a check the
// front end has no such command.
struct Difference {
    FrontEndKind frontEnd;
    Check expect;
    std::string_view why;
};

// A page's call, or a shell command instead: what the bank or the person at
// the key does meanwhile. The check sees the answer or the command's output.
struct Step {
    PageCall call;
    std::string shell;
    Check expect;
    std::vector<Difference> differences;
};

struct Case {
    std::string name;
    std::vector<Step> steps;
    std::map<std::string, std::string> environment = {};  // set before the front end starts
};

const std::vector<Case>& conformanceCases();

}  // namespace orva::conformance
