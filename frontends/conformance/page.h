#pragma once

// One case through one front end: a folder of the test's own (registry,
// software-key store, temporary folder), the build's programs, the values
// kept from earlier answers, and the front end, started at the first call.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "front_end.h"
#include "frontend_test_support.h"

namespace orva::conformance {

class Page {
  public:
    explicit Page(FrontEndKind kind);

    FrontEndKind kind() const noexcept { return kind_; }
    const std::filesystem::path& root() const noexcept { return folder_.root(); }
    void setEnv(const std::string& name, std::string_view value) {
        folder_.setEnv(name, expand(value));
    }

    // "{root}" becomes the folder, "{name}" a value kept under that name.
    std::string expand(std::string_view text) const;
    void keep(const std::string& name, std::string value) { kept_[name] = std::move(value); }

    // The call with its texts expanded.
    std::string call(PageCall call);
    // A shell command in the folder, with the build's programs first.
    orva::testing::CommandResult run(const std::string& command) const;
    // The same, failing the test unless it succeeds; its output.
    std::string expectRun(const std::string& command) const;
    std::string read(const std::filesystem::path& relative) const { return folder_.read(relative); }

  private:
    frontend::test::TestFolder folder_;
    FrontEndKind kind_;
    std::unique_ptr<FrontEnd> frontEnd_;
    std::map<std::string, std::string, std::less<>> kept_;
};

// What a step's answer must be; fails the test otherwise.
using Check = std::function<void(Page& page, const std::string& result)>;

Check is(std::string expected);  // expanded first
Check code(int code);
Check startsWith(std::string prefix);
Check sizeIs(std::size_t size);
// A list of n items joined by "||".
Check partsAre(std::size_t n);
Check all(std::vector<Check> checks);

// The answer, or one field of the file token it is ("TOKEN", "FILENAME"...),
// kept for later steps.
Check keep(std::string name);
Check keepField(std::string field, std::string name);
Check fieldIs(std::string field, std::string expected);

// The transaction element of a signed packet: tag, four zero bytes, the
// big-endian length, the bytes.
std::string transactionElement(std::string_view bytes);
// A base64 PKCS#7 (the answer, or the file it names when file is given) with
// an SM2 signature of the test CA's certificate, or an RSA one, verified by
// openssl, over content that holds `content`.
Check sm2Signed(std::string content, std::string file = "");
Check rsaSigned(std::string content);
// The key's last show: its outcome and, when signed, the charset it was told
// (1 GBK, 2 UTF-8, 3 GB18030) and the display bytes it got.
Check shown(std::string outcome, int charset = 0, std::string display = "");

}  // namespace orva::conformance
